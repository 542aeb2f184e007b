#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace decimal {

// What a signal that ends decimal-diff (SIGTERM, SIGINT, SIGHUP, SIGPIPE) must undo
// before the process goes: a gnuplot still drawing, a named temporary file
// not yet in place, and a line of progress on the terminal. The handlers are installed on first use
// and stay; a signal that was ignored stays ignored. One of each at a time.

// Kills the process group `group` on such a signal; 0 for none.
void kill_on_ending_signal(pid_t group);

// Removes the file `path` on such a signal, until forget_on_ending_signal().
void remove_on_ending_signal(const std::string& path);
void forget_on_ending_signal();

// Erases the line of progress on standard error (a terminal) on such a
// signal while `drawn` says that one is there.
void erase_line_on_ending_signal(bool drawn);

// Holds the ending signals back while it lives (on this thread), so that a
// step of several calls (a temporary linked, registered, renamed) is never
// cut between them; a signal that came meanwhile arrives at its end.
class ending_signals_held {
 public:
  ending_signals_held();
  ending_signals_held(const ending_signals_held&) = delete;
  ending_signals_held& operator=(const ending_signals_held&) = delete;
  ~ending_signals_held();

 private:
  sigset_t previous_;
};

// A write past the file size limit (ulimit -f) fails with EFBIG, told as
// "file size limit exceeded" with its file, instead of SIGXFSZ ending the
// process without a word; unless SIGXFSZ was set to something else already.
void report_file_size_limit_as_an_error();

}  // namespace decimal
