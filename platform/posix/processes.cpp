#include "platform/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace zivra::platform {
namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

std::string ExeNameOf(const std::string& procDir) {
  std::array<char, 4096> target{};
  const ssize_t n = ::readlink((procDir + "/exe").c_str(), target.data(), target.size() - 1);
  if (n <= 0) return {};
  std::string path(target.data(), static_cast<std::size_t>(n));
  // The kernel marks an executable that was unlinked or replaced while running; the process
  // still runs that program, so it keeps its name.
  if (path.size() > kDeletedSuffix.size() && path.ends_with(kDeletedSuffix)) {
    path.resize(path.size() - kDeletedSuffix.size());
  }
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when /proc no longer shows `pid` as a live process (gone, or a zombie).
bool Ended(Pid pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return true;
  const char state = text[close + 2];
  return state == 'Z' || state == 'X';
}

int PidfdOpen(Pid pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

int PidfdKill(int pidfd) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

bool WaitEndedByPolling(Pid pid, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!Ended(pid)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const auto colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::string candidate = std::string(dir.empty() ? std::string_view(".") : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    dirs.remove_prefix(colon + 1);
  }
}

// In the grandchild, between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecDetached(const char* path, char* const* argv, int errorPipe) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &dfl, nullptr);
  }
  const int devnull = ::open("/dev/null", O_RDONLY);
  if (devnull >= 0 && devnull != 0) {
    ::dup2(devnull, 0);
    ::close(devnull);
  }
  // Descriptors the caller left inheritable (sockets, lock files) stay with the caller.
#ifdef SYS_close_range
  ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */);
#endif
  ::execve(path, argv, environ);
  const int error = errno;
  [[maybe_unused]] const ssize_t w = ::write(errorPipe, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return list;
  while (const dirent* entry = ::readdir(proc)) {
    if (!AllDigits(entry->d_name)) continue;
    std::string name = ExeNameOf(std::string("/proc/") + entry->d_name);
    if (name.empty()) continue;  // kernel threads, zombies, processes we may not inspect
    list.push_back({std::strtoul(entry->d_name, nullptr, 10), std::move(name)});
  }
  ::closedir(proc);
  return list;
}

std::string ProcessExeName(Pid pid) {
  if (pid == 0) return {};
  return ExeNameOf("/proc/" + std::to_string(pid));
}

bool KillAndWait(Pid pid, const std::string& exeName, std::chrono::milliseconds timeout) {
  if (pid == 0) return true;
  const int pidfd = PidfdOpen(pid);
  if (pidfd >= 0) {
    // The descriptor pins this very process; checking its name after opening rules out a
    // process id that was reused since the search.
    bool gone = true;
    if (ProcessExeName(pid) == exeName && PidfdKill(pidfd) == 0) {
      pollfd p{pidfd, POLLIN, 0};
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (r > 0) break;
        if (r == 0 || (r < 0 && errno != EINTR)) {
          gone = Ended(pid);
          break;
        }
      }
    }
    ::close(pidfd);
    return gone;
  }
  if (errno == ESRCH) return true;
  if (ProcessExeName(pid) != exeName) return true;
  if (::kill(static_cast<pid_t>(pid), SIGKILL) != 0) return errno == ESRCH;
  return WaitEndedByPolling(pid, timeout);
}

bool StartDetached(const std::string& path, const std::vector<std::string>& args) {
  // Everything the child needs is prepared before fork: afterwards only plain system calls.
  std::vector<std::string> strings{path};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) ExecDetached(path.c_str(), argv.data(), pipeFds[1]);
    if (grandchild < 0) {
      const int error = errno;
      [[maybe_unused]] const ssize_t w = ::write(pipeFds[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // End of file: the program was executed. Four bytes: the errno of a failed start.
  int error = 0;
  ssize_t n;
  while ((n = ::read(pipeFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(pipeFds[0]);
  return n == 0;
}

bool OpenDocument(const std::string& path) {
  const std::string opener = FindInPath("xdg-open");
  if (opener.empty()) return false;
  return StartDetached(opener, {path});
}

Pid CurrentPid() { return static_cast<Pid>(::getpid()); }

}  // namespace zivra::platform
