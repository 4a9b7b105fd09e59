// Test entry for the integration tests: when run as root, the test process first moves into a
// network namespace and a mount namespace of its own. The server's fixed port and the PC/SC
// daemon's socket folder are then private to this process, so tests run in parallel and beside a
// real installation without meeting each other.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/isolation.h"

int main(int argc, char** argv) {
  if (!zivra::test::EnterPrivateNamespaces()) {
    std::fprintf(stderr, "note: not isolated (needs root); tests share the host's network\n");
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
