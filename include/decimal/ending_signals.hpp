#pragma once

#include <sys/types.h>

#include <string>

namespace decimal {

// What a signal that ends decimal-diff (SIGTERM, SIGINT, SIGHUP) must undo
// before the process goes: a gnuplot still drawing, and a named temporary
// file not yet in place. The handlers are installed on first use and stay;
// a signal that was ignored stays ignored. One of each at a time.

// Kills the process group `group` on such a signal; 0 for none.
void kill_on_ending_signal(pid_t group);

// Removes the file `path` on such a signal, until forget_on_ending_signal().
void remove_on_ending_signal(const std::string& path);
void forget_on_ending_signal();

}  // namespace decimal
