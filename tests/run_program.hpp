#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct outcome {
  int status;  // the exit status, or -1 when a signal ended the program
  std::string out;
  std::string err;
};

struct run_options {
  std::vector<std::string> args{};
  // Where standard output goes: captured when empty, closed when unset.
  std::optional<std::string> stdout_path = std::string();
  std::string stderr_path{};  // where standard error goes: captured when empty
  bool close_stdin = false;
  std::optional<std::string> path_variable{};                      // PATH for the program, when set
  std::vector<std::pair<std::string, std::string>> environment{};  // more variables to set
  std::optional<mode_t> umask{};                                   // the program's, when set
  std::optional<rlim_t> file_size_limit{};                         // in bytes (ulimit -f), when set
};

// Runs `binary` in `dir`, capturing what it writes into files in `scratch`.
inline outcome run_program(const char* binary, const std::filesystem::path& dir,
                           const std::filesystem::path& scratch, const run_options& options = {}) {
  const std::filesystem::path out_path = scratch / "captured_stdout";
  const std::filesystem::path err_path = scratch / "captured_stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const std::string err_target =
        options.stderr_path.empty() ? err_path.string() : options.stderr_path;
    const int err = open(err_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
    if (!options.stdout_path) {
      close(STDOUT_FILENO);
    } else {
      const std::string target =
          options.stdout_path->empty() ? out_path.string() : *options.stdout_path;
      const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    }
    if (options.close_stdin) close(STDIN_FILENO);
    if (options.path_variable) setenv("PATH", options.path_variable->c_str(), 1);
    // A CI runner's step summary is the runner's, not the tests' to append to.
    unsetenv("GITHUB_STEP_SUMMARY");
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    if (options.umask) ::umask(*options.umask);
    if (options.file_size_limit) {
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (const std::string& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", read_file(err_path)};
  if (options.stdout_path && options.stdout_path->empty()) result.out = read_file(out_path);
  return result;
}
