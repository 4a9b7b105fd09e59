#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <time.h>

extern char** environ;

namespace zivra::test {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

Process::Process(const std::string& program, Options options) : outputPrefix_(options.outputPrefix) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& name : options.unsetEnv) env.erase(name);
  for (const auto& [k, v] : options.env) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  // The child gets SIGKILL when the test dies (even by SIGKILL, as on a ctest time-out), so that
  // no server or daemon outlives the test that started it.
  std::vector<std::string> argStrings{"setpriv", "--pdeathsig", "KILL", "--", program};
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = outputPrefix_.empty() ? "/dev/null" : outputPrefix_ + ".out";
  const std::string err = outputPrefix_.empty() ? "/dev/null" : outputPrefix_ + ".err";
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!options.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  const int rc = posix_spawnp(&pid_, "setpriv", &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), status_(other.status_), outputPrefix_(std::move(other.outputPrefix_)) {
  other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    status_ = other.status_;
    outputPrefix_ = std::move(other.outputPrefix_);
    other.pid_ = -1;
  }
  return *this;
}

Process::~Process() { Kill(); }

bool Process::Running() {
  if (pid_ < 0 || status_) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = DecodeStatus(status);
    return false;
  }
  return r == 0;
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (pid_ < 0) return status_;
  WaitUntil([this] { return !Running(); }, timeout);
  return status_;
}

void Process::Signal(int sig) {
  if (pid_ > 0 && !status_) ::kill(pid_, sig);
}

void Process::Kill() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_) status_ = DecodeStatus(status);
  }
}

std::string Process::Stdout() const { return outputPrefix_.empty() ? "" : Slurp(outputPrefix_ + ".out"); }
std::string Process::Stderr() const { return outputPrefix_.empty() ? "" : Slurp(outputPrefix_ + ".err"); }

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  char tmpl[] = "/tmp/zivra-cmd-XXXXXX";
  const int fd = ::mkstemp(tmpl);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  const std::string prefix = tmpl;
  std::vector<std::string> rest(argv.begin() + 1, argv.end());
  Process p(argv.at(0), Process::Options{rest, {}, {}, "", prefix});
  CommandResult r;
  const auto code = p.Wait(timeout);
  r.output = p.Stdout();
  if (!code) p.Kill();
  r.exitCode = code.value_or(-1);
  ::unlink((prefix + ".out").c_str());
  ::unlink((prefix + ".err").c_str());
  ::unlink(prefix.c_str());
  return r;
}

}  // namespace zivra::test
