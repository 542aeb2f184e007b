// read() and write() interrupted by a signal whose handler was installed
// without SA_RESTART fail with EINTR; the program must try them again. A timer
// sends SIGALRM every millisecond while a slow peer keeps a pipe slow. Should
// no signal land in a blocked call, the test passes without proving anything,
// but it never fails for timing alone.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "decimal/report.hpp"
#include "decimal/run.hpp"

namespace {

extern "C" void count_alarm(int) {}

class Interrupted : public testing::Test {
 protected:
  void SetUp() override {
    struct sigaction alarm {};
    alarm.sa_handler = count_alarm;  // no SA_RESTART: blocked calls end with EINTR
    sigemptyset(&alarm.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &alarm, &previous_), 0);
    const itimerval every_millisecond{{0, 1000}, {0, 1000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &every_millisecond, nullptr), 0);
  }
  void TearDown() override {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
  }

  // Runs `work` on a thread that the alarm never interrupts.
  static std::thread unalarmed(std::function<void()> work) {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &alarm, &before);
    std::thread thread(std::move(work));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
  }

  struct sigaction previous_ {};
};

TEST_F(Interrupted, ReadingASlowPipeGoesOn) {
  std::array<int, 2> ends{};
  ASSERT_EQ(pipe(ends.data()), 0);
  std::string text;
  for (int i = 0; i < 201; ++i) text += std::to_string(i) + "\n";
  std::thread writer = unalarmed([&] {
    for (std::size_t at = 0; at < text.size(); at += 16) {
      const std::string piece = text.substr(at, 16);
      if (write(ends[1], piece.data(), piece.size()) < 0) break;
      usleep(2000);
    }
    close(ends[1]);
  });
  decimal::raw_table table{};
  EXPECT_NO_THROW(table = decimal::read_value_file("/proc/self/fd/" + std::to_string(ends[0])));
  writer.join();
  close(ends[0]);
  EXPECT_EQ(table[200], 200);
}

TEST_F(Interrupted, WritingASlowPipeGoesOn) {
  std::array<int, 2> ends{};
  ASSERT_EQ(pipe(ends.data()), 0);
  // A full pipe: the first write blocks before it has written anything,
  // which is when a signal makes it fail with EINTR.
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::size_t filled = 0;
  for (ssize_t n; (n = write(ends[1], "y", 1)) > 0;) filled += static_cast<std::size_t>(n);
  fcntl(ends[1], F_SETFL, 0);
  const std::string text(1 << 16, 'x');
  std::size_t received = 0;
  std::thread reader = unalarmed([&] {
    usleep(20'000);
    std::array<char, 4096> buffer;
    for (ssize_t n; (n = read(ends[0], buffer.data(), buffer.size())) > 0;) {
      received += static_cast<std::size_t>(n);
      usleep(500);
    }
  });
  EXPECT_NO_THROW(decimal::write_all(ends[1], text));
  close(ends[1]);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received, filled + text.size());
}

}  // namespace
