#include "platform/quit_wait.h"

#include <csignal>

namespace zivra::platform {
namespace {
sigset_t QuitSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

void PrepareQuitWait() {
  const sigset_t set = QuitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A peer that closes early must not end the process through SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
}

void WaitForQuitRequest() {
  const sigset_t set = QuitSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
}

}  // namespace zivra::platform
