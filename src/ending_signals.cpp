#include "decimal/ending_signals.hpp"

#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string_view>

namespace decimal {
namespace {

std::atomic<pid_t> drawing_group{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// The temporary's name, complete before `temporary_set` says so.
std::array<char, PATH_MAX> temporary_name{};
std::atomic<bool> temporary_set{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<bool> line_drawn{false};

constexpr std::array<int, 4> ending_signals = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};

extern "C" void undo_and_end(int signal_number) {
  if (const pid_t group = drawing_group.load(); group > 0) ::kill(-group, SIGKILL);
  if (temporary_set.load()) ::unlink(temporary_name.data());
  if (line_drawn.load()) {
    constexpr std::string_view erase = "\r\x1b[K";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, erase.data(), erase.size());
  }
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  ::sigaction(signal_number, &plain, nullptr);
  ::raise(signal_number);
}

void install_handlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction ending {};
    ending.sa_handler = undo_and_end;
    sigemptyset(&ending.sa_mask);
    for (const int signal_number : ending_signals) sigaddset(&ending.sa_mask, signal_number);
    for (const int signal_number : ending_signals) {
      struct sigaction previous {};
      ::sigaction(signal_number, nullptr, &previous);
      if (previous.sa_handler == SIG_DFL) ::sigaction(signal_number, &ending, nullptr);
    }
  });
}

}  // namespace

void kill_on_ending_signal(pid_t group) {
  install_handlers();
  drawing_group.store(group);
}

void remove_on_ending_signal(const std::string& path) {
  install_handlers();
  temporary_set.store(false);
  const std::size_t n = std::min(path.size(), temporary_name.size() - 1);
  std::memcpy(temporary_name.data(), path.data(), n);
  temporary_name[n] = '\0';
  temporary_set.store(path.size() < temporary_name.size());
}

void forget_on_ending_signal() { temporary_set.store(false); }

void erase_line_on_ending_signal(bool drawn) {
  install_handlers();
  line_drawn.store(drawn);
}

ending_signals_held::ending_signals_held() {
  install_handlers();
  sigset_t held;
  sigemptyset(&held);
  for (const int signal_number : ending_signals) sigaddset(&held, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

ending_signals_held::~ending_signals_held() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void report_file_size_limit_as_an_error() {
  struct sigaction previous {};
  ::sigaction(SIGXFSZ, nullptr, &previous);
  if (previous.sa_handler != SIG_DFL) return;
  struct sigaction ignored {};
  ignored.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignored, nullptr);
}

}  // namespace decimal
