#pragma once

namespace zivra::test {
// True when the test binary runs in its own network and mount namespaces.
bool Isolated();
}  // namespace zivra::test
