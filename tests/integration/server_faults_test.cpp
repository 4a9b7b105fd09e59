// The server under sustained use and against hostile clients: resources stay flat, nobody holds
// the others.
#include <filesystem>
#include <fstream>

#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

// Sanitizer builds keep freed memory in quarantine, so their resident size says nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

long ResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int OpenDescriptors(pid_t pid) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++n;
  return n;
}

class ServerFaults : public ServerFixture {};

TEST_F(ServerFaults, TenThousandRequestsLeaveDescriptorsAndMemoryFlat) {
  StartServer();
  const std::string request = "GET /?getversion HTTP/1.1\r\n\r\n";
  for (int i = 0; i < 200; ++i) ASSERT_EQ(Ask(request), ExpectedReply("0180"));  // warm up allocator and caches
  const int fds = OpenDescriptors(server_.Pid());
  const long rss = ResidentKiB(server_.Pid());
  int failures = 0;
  for (int i = 0; i < 10000; ++i) {
    // Every tenth client misbehaves: plain text, or gone before its request.
    if (i % 10 == 3) {
      TcpClient plain("127.0.0.1", kPort);
      plain.Send("GET / HTTP/1.1\r\n\r\n");
      plain.ReadAll(2s);
    } else if (i % 10 == 7) {
      TcpClient gone("127.0.0.1", kPort);
    } else if (HttpsExchange("127.0.0.1", kPort, request, Certificates().caCert.string()).reply !=
               ExpectedReply("0180")) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(server_.Running());
  EXPECT_EQ(OpenDescriptors(server_.Pid()), fds);
  if (!kSanitized) {
    EXPECT_LT(ResidentKiB(server_.Pid()) - rss, 1024) << "resident size grew from " << rss << " KiB";
  }
}

TEST_F(ServerFaults, ManyIdleConnectionsNeitherBlockNorExhaustTheServer) {
  StartServer();
  std::vector<std::unique_ptr<TcpClient>> idle;
  for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<TcpClient>("127.0.0.1", kPort));
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  idle.clear();
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  EXPECT_LE(OpenDescriptors(server_.Pid()), 80);  // pending connections are capped
}

}  // namespace
}  // namespace zivra::test
