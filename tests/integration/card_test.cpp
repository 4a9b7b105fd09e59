// The card commands end to end: the real server over TLS, a private pcscd with the virtual reader
// driver, and cardsim as the card.
#include <optional>

#include "tests/support/isolation.h"
#include "tests/support/log_entries.h"
#include "tests/support/pcscd_harness.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

const std::string kGet = "GET /?GetCardID HTTP/1.1\r\nHost: localhost\r\n\r\n";
const std::string kSelectLine = "[smartCard]:error:SelectDESFire Fail--6E00";

class SmartcardBench : public ServerFixture {
 protected:
  // Starts the bench and then the server; false (with the test failed) when the bench is down.
  bool Start(PcscdHarness::Setup setup = PcscdHarness::Setup::VirtualReaders) {
    bench_.emplace(setup);
    if (!bench_->Problem().empty()) {
      ADD_FAILURE() << bench_->Problem();
      return false;
    }
    StartServer();
    EXPECT_TRUE(Listening());
    return Listening();
  }
  void Insert(int slot, const std::vector<std::string>& args) {
    ASSERT_TRUE(bench_->InsertCard(slot, args)) << "the daemon did not see the card on reader " << slot;
  }
  void Remove(int slot) { ASSERT_TRUE(bench_->RemoveCard(slot)); }
  // The debug log's lines, time stamps cut off.
  std::vector<std::string> DebugLog() { return LogEntries(Log("zivraDebug.txt")); }

  std::optional<PcscdHarness> bench_;
};

TEST_F(SmartcardBench, ReadsTheNumberOnBothRoutesAndBothProtocols) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start());
  struct Case {
    std::vector<std::string> card;
    std::string number;
    std::string getResponse;  // a GET RESPONSE the card must have been sent, on T=0
    bool applet;
  };
  const std::vector<Case> cases = {
      {{"--number", "1234ABCD00000001"}, "1234ABCD00000001", "", false},
      {{"--atr", "t0", "--number", "00FF00FF00FF00FF"}, "00FF00FF00FF00FF", "> 00 C0 00 00 08 ", false},
      {{"--reader", "applet", "--number", "0102030405060708"}, "0102030405060708", "", true},
      {{"--reader", "applet", "--atr", "t0", "--number", "FEDCBA9876543210"}, "FEDCBA9876543210",
       "> 00 C0 00 00 09 ", true},
  };
  std::vector<std::string> expectedLog;
  for (const Case& c : cases) {
    Insert(0, c.card);
    // Both words, all three methods; the card stays and gives the same number each time.
    for (const std::string& request :
         {kGet, std::string("POST /?TestGetCardID HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
          std::string("OPTIONS /?GetCardID HTTP/1.1\r\n\r\n")}) {
      EXPECT_EQ(Ask(request), ExpectedReply(c.number)) << request << bench_->CardLog(0);
      // The reader that needs the applet: one line per request, from the probe.
      if (c.applet) expectedLog.push_back(kSelectLine);
    }
    if (!c.getResponse.empty()) {
      EXPECT_NE(bench_->CardLog(0).find(c.getResponse), std::string::npos) << bench_->CardLog(0);
    }
    Remove(0);
  }
  // The server reads with the result lines off: only the reader search's lines are written.
  EXPECT_EQ(DebugLog(), expectedLog);
}

TEST_F(SmartcardBench, NoServiceMeansNoDriver) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start(PcscdHarness::Setup::NoDaemon));
  EXPECT_EQ(Ask(kGet), ExpectedReply("Err:No Smartcard Driver Installed"));
  EXPECT_EQ(DebugLog(), std::vector<std::string>{"[smartCard]:error:SCardEstablishContext Fail"});
}

TEST_F(SmartcardBench, ServiceWithoutReaders) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start(PcscdHarness::Setup::NoReaders));
  EXPECT_EQ(Ask(kGet), ExpectedReply("Err:No Smartcard Reader Found"));
  EXPECT_EQ(DebugLog(), std::vector<std::string>{"[smartCard]:error:SCardListReaders Fail"});
}

TEST_F(SmartcardBench, ErrorTextsFromWhatLiesOnTheReader) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start());
  struct Case {
    std::optional<std::vector<std::string>> card;  // none: both readers empty
    std::string body;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {std::nullopt, "Err:No Card Found", {"[smartCard]:operation:No Card Found"}},
      {{{"--card", "foreign"}}, "Err:Wrong Card", {kSelectLine, "[smartCard]:error:SelectEF Fail"}},
      {{{"--card", "foreign", "--reader", "applet"}}, "Err:Wrong Card",
       {kSelectLine, "[smartCard]:error:ReadCardSNG2 Fail"}},
      {{{"--card", "family"}}, "Err:Cannot Read Card Data", {}},
      {{{"--card", "family", "--reader", "applet"}}, "Err:Cannot Read Card Data", {kSelectLine}},
      {{{"--fail-read"}}, "Err:Cannot Read Card Data", {}},
      {{{"--fail-read", "--reader", "applet", "--atr", "t0"}}, "Err:Cannot Read Card Data", {kSelectLine}},
      {{{"--number", "0000000000000000"}}, "Err:Cannot Read Card Data", {}},
  };
  std::vector<std::string> expectedLog;
  for (const Case& c : cases) {
    if (c.card) Insert(0, *c.card);
    EXPECT_EQ(Ask(kGet), ExpectedReply(c.body)) << bench_->CardLog(0);
    expectedLog.insert(expectedLog.end(), c.log.begin(), c.log.end());
    // Exactly these lines: no "zIvraSN" line from a server request, no "No Card Found" for a
    // card that was there but wrong.
    EXPECT_EQ(DebugLog(), expectedLog) << c.body;
    if (c.card) Remove(0);
  }
}

TEST_F(SmartcardBench, ForeignCardOnTheFirstReaderIsPassedOver) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start());
  Insert(0, {"--card", "foreign"});
  Insert(1, {"--number", "AABBCCDDEEFF0011"});
  EXPECT_EQ(Ask(kGet), ExpectedReply("AABBCCDDEEFF0011"));
  EXPECT_EQ(DebugLog(), (std::vector<std::string>{kSelectLine, "[smartCard]:error:SelectEF Fail"}));
  // The foreign card was only probed; the number came from the second reader.
  EXPECT_EQ(bench_->CardLog(0).find("> 90 BD"), std::string::npos);
  EXPECT_NE(bench_->CardLog(1).find("> 90 BD"), std::string::npos);
}

TEST_F(SmartcardBench, WithSystemCardsOnBothReadersTheFirstWins) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start());
  Insert(0, {"--number", "1111111111111111"});
  Insert(1, {"--number", "2222222222222222"});
  EXPECT_EQ(Ask(kGet), ExpectedReply("1111111111111111"));
  EXPECT_EQ(bench_->CardLog(1).find("> "), std::string::npos) << "the second card was sent commands";
}

TEST_F(SmartcardBench, CardThatLeavesDuringTheRead) {
  if (!Isolated()) GTEST_SKIP() << "needs root for a private /run/pcscd";
  ASSERT_TRUE(Start());
  struct Case {
    std::string leaveAfter;
    std::string body;
  };
  // After 1 command: gone before the select of the reading sequence; after 2: before the read.
  const std::vector<Case> cases = {{"1", "Err:Wrong Card"}, {"2", "Err:Cannot Read Card Data"}};
  for (const Case& c : cases) {
    Insert(0, {"--leave-after", c.leaveAfter});
    EXPECT_EQ(Ask(kGet), ExpectedReply(c.body)) << bench_->CardLog(0);
    EXPECT_NE(bench_->CardLog(0).find("cardsim: leaving the reader"), std::string::npos) << bench_->CardLog(0);
    ASSERT_TRUE(bench_->WaitForCard(0, false));
    EXPECT_EQ(Ask(kGet), ExpectedReply("Err:No Card Found"));
  }
  EXPECT_TRUE(server_.Running());
  EXPECT_EQ(DebugLog(), std::vector<std::string>(2, "[smartCard]:operation:No Card Found"));
}

}  // namespace
}  // namespace zivra::test
