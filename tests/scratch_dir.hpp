#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// A directory that belongs to the running test alone, so that tests may run
// in parallel: named after the test and the process, removed when it ends.
class scratch_dir {
 public:
  scratch_dir() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("decimal-") + test->test_suite_name() + "." + test->name() +
                       "-" + std::to_string(::getpid());
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = std::filesystem::path(testing::TempDir()) / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  ~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }

  // Copies a run's three files (samples.txt, results_m.txt, results_c.txt)
  // from the directory `from` into the directory `name`; returns its path.
  std::filesystem::path copy_run(const std::filesystem::path& from, const std::string& name) const {
    const std::filesystem::path dir = path_ / name;
    std::filesystem::create_directories(dir);
    for (const char* file : {"samples.txt", "results_m.txt", "results_c.txt"}) {
      std::filesystem::copy_file(from / file, dir / file);
    }
    return dir;
  }

  // Writes `text` to the file `name` in the directory and returns its path.
  std::string write(const std::string& name, std::string_view text) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    return file.string();
  }

 private:
  std::filesystem::path path_;
};
