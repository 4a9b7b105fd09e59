#include "tests/support/pid_namespace.h"

#include <dirent.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zivra::test {
namespace {

std::string Link(const std::string& path) {
  std::array<char, 4096> buf{};
  const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
  return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
}

pid_t ParentOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("PPid:", 0) == 0) return static_cast<pid_t>(std::atoi(line.c_str() + 5));
  }
  return -1;
}

std::vector<pid_t> AllPids() {
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (end != e->d_name && *end == '\0') pids.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return pids;
}

}  // namespace

std::string ExecutableOf(pid_t pid) { return Link("/proc/" + std::to_string(pid) + "/exe"); }

PidNamespace::PidNamespace()
    : init_("unshare", Process::Options{{"--pid", "--fork", "--mount-proc", "--kill-child", "sleep", "infinity"},
                                        {}, {}, "", ""}) {
  const pid_t parent = init_.Pid();
  WaitUntil(
      [&] {
        for (pid_t pid : AllPids()) {
          if (ParentOf(pid) == parent && ExecutableOf(pid).ends_with("/sleep")) {
            initPid_ = pid;
            return true;
          }
        }
        return !init_.Running();
      },
      std::chrono::seconds(10));
  if (initPid_ < 0) throw std::runtime_error("cannot make a process-id namespace (needs root)");
  nsId_ = Link("/proc/" + std::to_string(initPid_) + "/ns/pid");
  if (nsId_.empty() || nsId_ == Link("/proc/self/ns/pid")) throw std::runtime_error("no new pid namespace");
}

PidNamespace::~PidNamespace() {
  // unshare kills the namespace's first process as it dies, and with it every other one.
  init_.Kill();
  WaitUntil([this] { return ExecutableOf(initPid_).empty(); }, std::chrono::seconds(5));
}

Process PidNamespace::Start(const std::string& program, Process::Options options) {
  const std::string wd = options.workingDir.empty() ? std::filesystem::current_path().string() : options.workingDir;
  std::vector<std::string> args = {"--target", std::to_string(initPid_), "--pid", "--mount", "--wd=" + wd, "--",
                                   program};
  args.insert(args.end(), options.args.begin(), options.args.end());
  options.args = std::move(args);
  return Process("nsenter", std::move(options));
}

std::vector<pid_t> PidNamespace::Find(const std::string& exeName) const {
  std::vector<pid_t> found;
  for (pid_t pid : AllPids()) {
    if (pid == initPid_ || !Contains(pid)) continue;
    std::string exe = ExecutableOf(pid);
    if (exe.ends_with(" (deleted)")) exe.resize(exe.size() - 10);
    if (exe.substr(exe.rfind('/') + 1) == exeName) found.push_back(pid);
  }
  return found;
}

bool PidNamespace::Contains(pid_t pid) const {
  return Link("/proc/" + std::to_string(pid) + "/ns/pid") == nsId_;
}

}  // namespace zivra::test
