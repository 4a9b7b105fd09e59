#pragma once
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zivra::test {

// A child process started by a test; killed and reaped by the destructor, so a failing test
// never leaves it behind. Standard output and error go to files that tests can read.
class Process {
 public:
  struct Options {
    std::vector<std::string> args;              // without the program itself
    std::map<std::string, std::string> env;     // added to (or replacing in) the test's own
    std::vector<std::string> unsetEnv;
    std::string workingDir;                     // empty: the test's own
    std::string outputPrefix;                   // files <prefix>.out / .err; empty: /dev/null
  };

  Process() = default;
  Process(const std::string& program, Options options);
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  pid_t Pid() const { return pid_; }
  bool Running();
  // The exit code, or 128+signal; nullopt when it did not end in time.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  void Signal(int sig);
  void Kill();

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outputPrefix_;
};

// Runs a command to its end (at most `timeout`) and returns its exit code and standard output.
struct CommandResult {
  int exitCode = -1;
  std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Polls `condition` every few milliseconds until it holds or the time is up.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    struct timespec ts{0, 5 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
  return true;
}

}  // namespace zivra::test
