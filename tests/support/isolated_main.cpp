// Test entry for the integration tests: when run as root, the test binary first moves into a
// network namespace and a mount namespace of its own. The server's fixed port and the PC/SC
// daemon's socket folder are then private to this binary, so test binaries run in parallel and
// beside a real installation without meeting each other.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/support/isolation.h"

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

bool Isolated() { return g_isolated; }

}  // namespace zivra::test

int main(int argc, char** argv) {
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0) {
    // Mounts made by this binary (a private /run/pcscd, say) must not reach the host.
    ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    zivra::test::g_isolated = zivra::test::BringLoopbackUp();
  }
  if (!zivra::test::g_isolated) {
    std::fprintf(stderr, "note: not isolated (needs root); tests share the host's network\n");
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
