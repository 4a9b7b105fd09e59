#include "platform/desktop_folder.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace zivra::platform {
namespace {

// Standard output of `xdg-user-dir DESKTOP`, read for at most a few seconds.
std::string AskXdgUserDir() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char program[] = "xdg-user-dir";
  char arg[] = "DESKTOP";
  char* argv[] = {program, arg, nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return {};
  }
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  bool complete = false;
  while (out.size() < 8192) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char chunk[1024];
    const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = n == 0;
      break;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (!complete) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/' ? pw->pw_dir : "";
}

}  // namespace

std::string DesktopFolder() {
  std::string folder = AskXdgUserDir();
  // The answer must be one absolute path; anything else is not trusted.
  if (folder.empty() || folder[0] != '/' || folder.find('\n') != std::string::npos) {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    folder = home + "/Desktop";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace zivra::platform
