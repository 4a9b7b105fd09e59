#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/tls_client.h"

namespace zivra::test {

inline constexpr std::uint16_t kPort = 32860;

// The number of sockets listening on `port` (read from /proc/net, without connecting, so that
// the server sees no client).
int ListeningSockets(std::uint16_t port);
// The local addresses of those sockets, as /proc/net writes them (hexadecimal, 127.0.0.1 is
// "0100007F").
std::vector<std::string> ListeningAddresses(std::uint16_t port);

// A scratch installation and a server process started from it; the server is killed when the
// test ends, passed or failed.
class ServerFixture : public ::testing::Test {
 protected:
  // Starts "zivraBrowserServer" with `args`; waits until it listens (or ends) when
  // `waitForListener`.
  void StartServer(const std::vector<std::string>& args = {},
                   const std::map<std::string, std::string>& env = {}, bool waitForListener = true);
  bool Listening() const { return ListeningSockets(kPort) > 0; }
  // Sends `request` over TLS to host:32860 and returns the reply bytes.
  std::string Ask(const std::string& request, const std::string& host = "127.0.0.1");
  std::string Log(const std::string& name) const { return ReadFile(install_.File(name)); }

  ScratchInstall install_;
  Process server_;
};

// The reply bytes the server writes for `body`, prelude included.
std::string ExpectedReply(const std::string& body);

}  // namespace zivra::test
