#include "tests/support/isolation.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace zivra::test {
namespace {

bool g_isolated = false;

bool BringLoopbackUp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool EnterPrivateNamespaces() {
  if (g_isolated) return true;
  if (::geteuid() != 0 || ::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
  // Mounts made here (a private /run/pcscd, say) must not reach the host.
  ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  g_isolated = BringLoopbackUp();
  return g_isolated;
}

bool Isolated() { return g_isolated; }

}  // namespace zivra::test
