#pragma once

namespace zivra::test {

// As root: moves the calling process (before it starts threads) into network and mount namespaces
// of its own, with the loopback interface up and mounts kept private. Returns false, changing
// nothing, when that is not possible.
bool EnterPrivateNamespaces();

// True when the test binary runs in its own network and mount namespaces.
bool Isolated();

}  // namespace zivra::test
