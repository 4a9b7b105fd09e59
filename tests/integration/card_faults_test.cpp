// The card commands when the smart-card service fails under them: the server answers every
// request and reads again once the service is back.
#include <atomic>
#include <optional>
#include <thread>

#include "tests/support/isolation.h"
#include "tests/support/pcscd_harness.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

const std::string kGet = "GET /?GetCardID HTTP/1.1\r\nHost: localhost\r\n\r\n";
const std::string kNumber = "0011223344556677";

class CardFaults : public ServerFixture {
 protected:
  void StartBench() {
    bench_.emplace();
    ASSERT_TRUE(bench_->Problem().empty()) << bench_->Problem();
    ASSERT_TRUE(bench_->InsertCard(0, {"--number", kNumber, "--quiet"}));
  }
  std::optional<PcscdHarness> bench_;
};

TEST_F(CardFaults, DaemonKilledDuringRequestsAndStartedAgain) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  StartBench();
  StartServer();
  ASSERT_EQ(Ask(kGet), ExpectedReply(kNumber));

  // Requests keep coming while the daemon dies under them: each gets a whole reply, the number
  // or an "Err:" text.
  std::atomic<bool> stop{false};
  std::vector<std::string> replies;
  std::thread client([&] {
    while (!stop) replies.push_back(Ask(kGet));
  });
  std::this_thread::sleep_for(100ms);
  bench_->KillDaemon();
  std::this_thread::sleep_for(300ms);
  stop = true;
  client.join();
  ASSERT_FALSE(replies.empty());
  bool sawError = false;
  for (const std::string& r : replies) {
    const bool number = r == ExpectedReply(kNumber);
    const bool error = r.starts_with(ExpectedReply("").substr(0, 100)) && r.find("\r\n\r\nErr:") != std::string::npos;
    EXPECT_TRUE(number || error) << r;
    sawError = sawError || error;
  }
  EXPECT_TRUE(sawError) << "no request met the dead daemon";
  EXPECT_NE(Ask(kGet).find("\r\n\r\nErr:No Smartcard Driver Installed"), std::string::npos);

  // The service comes back: the next read succeeds without restarting the server.
  bench_.reset();
  StartBench();
  EXPECT_EQ(Ask(kGet), ExpectedReply(kNumber));
  EXPECT_TRUE(server_.Running());
}

}  // namespace
}  // namespace zivra::test
