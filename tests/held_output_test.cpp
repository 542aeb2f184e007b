// Output held back in memory, and past its limit in a temporary file.

#include "decimal/held_output.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "decimal/error.hpp"
#include "scratch_dir.hpp"

namespace {

// $TMPDIR for the test, restored after it.
class HeldOutput : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* dir = std::getenv("TMPDIR")) saved_ = dir;
    ::setenv("TMPDIR", scratch_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

  scratch_dir scratch_;
  std::optional<std::string> saved_;
};

// Memory holds up to one byte below the limit; the limit itself spills, as
// a $TMPDIR that does not exist shows.
TEST_F(HeldOutput, SpillsAtTheLimitItself) {
  ::setenv("TMPDIR", (scratch_.path() / "none").c_str(), 1);
  decimal::held_output held(16);
  held.append(std::string(15, 'a'));
  EXPECT_EQ(held.size(), 15U);
  EXPECT_THROW(held.append("b"), decimal::error);
}

// By default, a run's output spills past 1 MiB, not later.
TEST_F(HeldOutput, DefaultLimitIsOneMebibyte) {
  ::setenv("TMPDIR", (scratch_.path() / "none").c_str(), 1);
  decimal::held_output held;
  held.append(std::string((std::size_t{1} << 20) - 1, 'a'));
  EXPECT_THROW(held.append("b"), decimal::error);
}

// After a spill, the head comes from the file and then from memory, in order.
TEST_F(HeldOutput, HeadAfterASpillIsInOrder) {
  decimal::held_output held(16);
  std::string all;
  for (int i = 0; i < 10; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    held.append(line);
    all += line;
  }
  EXPECT_EQ(held.size(), all.size());
  EXPECT_EQ(held.head(all.size()), all);
  EXPECT_EQ(held.head(20), all.substr(0, 20));
  EXPECT_EQ(held.head(1000), all);
  EXPECT_EQ(held.head(5), "line ");
}

}  // namespace
