// SmartCard against a scripted smart-card service: every command the card access sends must be
// the next one in the reader's script, byte for byte, and gets the scripted answer.
#include "server/card/smart_card.h"

#include <gtest/gtest.h>
#include <winscard.h>

#include <deque>
#include <functional>
#include <map>

#include "tests/support/files.h"
#include "tests/support/log_entries.h"

namespace zivra::card {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string s;
  char two[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    s += two;
  }
  return s;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

constexpr PcscCode Code(LONG rv) { return static_cast<PcscCode>(rv); }

// The commands as the card access must send them.
const Bytes kSelectT1{0x90, 0x5A, 0x00, 0x00, 0x03, 0x11, 0x87, 0x16, 0x00};
const Bytes kSelectT0{0x90, 0x5A, 0x00, 0x00, 0x03, 0x11, 0x87, 0x16};
const Bytes kReadT1{0x90, 0xBD, 0x00, 0x00, 0x07, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
const Bytes kReadT0{0x90, 0xBD, 0x00, 0x00, 0x07, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};
const Bytes kAppletT0{0x00, 0xA4, 0x04, 0x00, 0x0D, 'D', 'e', 's', 'f', 'i', 'r', 'e', 'A', 'p', 'p', 'l', 'e', 't'};
const Bytes kAppletT1 = Cat({kAppletT0, {0x00}});
const Bytes kRelaySelectT0{0xF0, 0xDE, 0x00, 0x00, 0x04, 0x5A, 0x11, 0x87, 0x16};
const Bytes kRelaySelectT1 = Cat({kRelaySelectT0, {0x00}});
const Bytes kRelayReadT0{0xF0, 0xDE, 0x00, 0x00, 0x08, 0xBD, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};
const Bytes kRelayReadT1 = Cat({kRelayReadT0, {0x00}});
const Bytes kNumber{0x12, 0x34, 0xAB, 0xCD, 0x00, 0x00, 0x00, 0x01};

struct Exchange {
  Bytes command;
  Bytes answer;
  PcscCode error = kPcscSuccess;  // when set, the transmit fails with it
};

struct FakeReader {
  std::string name;
  std::uint32_t protocol = kProtocolT1;
  PcscCode connectError = Code(SCARD_E_NO_SMARTCARD);  // an empty reader unless given a script
  std::deque<PcscCode> connectResults;                 // taken first, one per connect
  std::deque<Exchange> script;
  int connects = 0;
};

// The smart-card service, scripted. A command out of script fails the test.
class ScriptedPcsc final : public PcscApi {
 public:
  ~ScriptedPcsc() override {
    for (const FakeReader& r : readers) {
      EXPECT_TRUE(r.script.empty()) << r.name << ": " << r.script.size() << " scripted commands never came, next "
                                    << Hex(r.script.front().command);
    }
  }

  FakeReader& AddReader(const std::string& name, std::deque<Exchange> script = {},
                        std::uint32_t protocol = kProtocolT1) {
    FakeReader& r = readers.emplace_back();
    r.name = name;
    r.protocol = protocol;
    if (!script.empty()) r.connectError = kPcscSuccess;
    r.script = std::move(script);
    return r;
  }

  PcscCode EstablishContext(ContextHandle& context) override {
    if (establishError != kPcscSuccess) return establishError;
    context = 7;
    ++openContexts;
    return kPcscSuccess;
  }
  PcscCode ReleaseContext(ContextHandle context) override {
    EXPECT_EQ(context, 7u);
    EXPECT_EQ(openCards, 0) << "context released before its card";
    --openContexts;
    return kPcscSuccess;
  }
  PcscCode ListReaders(ContextHandle, std::string& multiString) override {
    if (listError != kPcscSuccess) return listError;
    multiString.clear();
    for (const FakeReader& r : readers) multiString += r.name + '\0';
    multiString += '\0';
    return kPcscSuccess;
  }
  PcscCode Connect(ContextHandle context, const std::string& name, CardHandle& card,
                   std::uint32_t& protocol) override {
    EXPECT_EQ(context, 7u);
    for (std::size_t i = 0; i < readers.size(); ++i) {
      FakeReader& r = readers[i];
      if (r.name != name) continue;
      ++r.connects;
      events.push_back("connect " + name);
      PcscCode rc = r.connectError;
      if (!r.connectResults.empty()) {
        rc = r.connectResults.front();
        r.connectResults.pop_front();
      }
      if (rc != kPcscSuccess) return rc;
      card = 100 + i;
      protocol = r.protocol;
      ++openCards;
      return kPcscSuccess;
    }
    ADD_FAILURE() << "connect to unknown reader " << name;
    return Code(SCARD_E_UNKNOWN_READER);
  }
  PcscCode Disconnect(CardHandle card) override {
    events.push_back("disconnect " + readers.at(card - 100).name);
    --openCards;
    return kPcscSuccess;
  }
  PcscCode Transmit(CardHandle card, std::uint32_t protocol, std::span<const std::uint8_t> command,
                    std::span<std::uint8_t> answer, std::size_t& received) override {
    FakeReader& r = readers.at(card - 100);
    EXPECT_EQ(protocol, r.protocol);
    if (r.script.empty()) {
      ADD_FAILURE() << r.name << ": command out of script: " << Hex(command);
      return Code(SCARD_F_INTERNAL_ERROR);
    }
    const Exchange next = r.script.front();
    r.script.pop_front();
    if (!std::equal(command.begin(), command.end(), next.command.begin(), next.command.end())) {
      ADD_FAILURE() << r.name << ": sent " << Hex(command) << "\n  script wants " << Hex(next.command);
      return Code(SCARD_F_INTERNAL_ERROR);
    }
    if (next.error != kPcscSuccess) return next.error;
    if (next.answer.size() > answer.size()) return Code(SCARD_E_INSUFFICIENT_BUFFER);  // as the service does
    std::copy(next.answer.begin(), next.answer.end(), answer.begin());
    received = next.answer.size();
    return kPcscSuccess;
  }

  std::vector<FakeReader> readers;  // AddReader only before the card access runs
  PcscCode establishError = kPcscSuccess;
  PcscCode listError = kPcscSuccess;
  int openContexts = 0;
  int openCards = 0;
  std::vector<std::string> events;
};

// The lines of the debug log in `folder`, time stamps cut off.
std::vector<std::string> DebugLogIn(const test::ScratchDir& folder) {
  return test::LogEntries(test::ReadFile(folder.Path() / kDebugLogName));
}

// A SmartCard on a scripted service, logging into a scratch folder.
class SmartcardTest : public ::testing::Test {
 protected:
  ~SmartcardTest() override {
    card_.reset();
    EXPECT_EQ(pcsc_.openCards, 0) << "card connection left open";
    EXPECT_EQ(pcsc_.openContexts, 0) << "context left open";
  }
  SmartCard& Card() {
    if (!card_) card_.emplace(pcsc_, LogWriter(dir_.Folder()));
    return *card_;
  }
  std::vector<std::string> LogLines() const { return DebugLogIn(dir_); }
  // Connects the only reader's card directly (for the single-command tests).
  void ConnectFor(std::deque<Exchange> commands, std::uint32_t protocol = kProtocolT1) {
    commands.push_front({protocol == kProtocolT1 ? kSelectT1 : kSelectT0, {0x91, 0x00}});
    pcsc_.AddReader("R", std::move(commands), protocol);
    ASSERT_EQ(Card().ConnectCard(0), kConnected);
  }

  test::ScratchDir dir_{"zivra-card-unit"};
  ScriptedPcsc pcsc_;
  std::optional<SmartCard> card_;
};

TEST(SmartcardFraming, CommandBytesPerProtocol) {
  struct Case {
    CommandApdu command;
    Protocol protocol;
    Bytes sent;
  };
  const Bytes appletName(kAppletT0.begin() + 5, kAppletT0.end());
  const Case cases[] = {
      {{0x90, 0x5A, 0, 0, {0x11, 0x87, 0x16}, 0}, Protocol::T1, kSelectT1},
      {{0x90, 0x5A, 0, 0, {0x11, 0x87, 0x16}, 0}, Protocol::T0, kSelectT0},
      {{0x90, 0xBD, 0, 0, {3, 0, 0, 0, 8, 0, 0}, 0}, Protocol::T1, kReadT1},
      {{0x90, 0xBD, 0, 0, {3, 0, 0, 0, 8, 0, 0}, 0}, Protocol::T0, kReadT0},
      {{0x00, 0xA4, 4, 0, appletName, 0}, Protocol::T1, kAppletT1},
      {{0x00, 0xA4, 4, 0, appletName, 0}, Protocol::T0, kAppletT0},
      {{0xF0, 0xDE, 0, 0, {0x5A, 0x11, 0x87, 0x16}, 0}, Protocol::T1, kRelaySelectT1},
      {{0xF0, 0xDE, 0, 0, {0x5A, 0x11, 0x87, 0x16}, 0}, Protocol::T0, kRelaySelectT0},
      {{0xF0, 0xDE, 0, 0, {0xBD, 3, 0, 0, 0, 8, 0, 0}, 0}, Protocol::T1, kRelayReadT1},
      // Class 0x90 always carries Lc and a 00 Le on T=1, whatever the command's Le.
      {{0x90, 0x60, 0, 0, {}, 0x10}, Protocol::T1, {0x90, 0x60, 0, 0, 0x00, 0x00}},
      {{0x90, 0x60, 0, 0, {}, 0x10}, Protocol::T0, {0x90, 0x60, 0, 0}},
      // Other classes without data: the header and, on T=1 only, the Le byte.
      {{0x00, 0x84, 0, 0, {}, 0x08}, Protocol::T1, {0x00, 0x84, 0, 0, 0x08}},
      {{0x00, 0x84, 0, 0, {}, 0x08}, Protocol::T0, {0x00, 0x84, 0, 0}},
      {{0x00, 0xA4, 4, 0, {0xA0}, 0x05}, Protocol::T1, {0x00, 0xA4, 4, 0, 0x01, 0xA0, 0x05}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(FrameCommand(c.command, c.protocol)), Hex(c.sent))
        << "protocol T=" << (c.protocol == Protocol::T0 ? 0 : 1);
  }
}

TEST(SmartcardFraming, GetResponseTakesSw2OrTheSmallerLe) {
  EXPECT_EQ(Hex(GetResponseFor(0x0A, 0x00)), Hex(Bytes{0x00, 0xC0, 0x00, 0x00, 0x0A}));
  EXPECT_EQ(Hex(GetResponseFor(0x0A, 0x04)), Hex(Bytes{0x00, 0xC0, 0x00, 0x00, 0x04}));
  EXPECT_EQ(Hex(GetResponseFor(0x0A, 0x20)), Hex(Bytes{0x00, 0xC0, 0x00, 0x00, 0x0A}));
  EXPECT_EQ(Hex(GetResponseFor(0x00, 0x00)), Hex(Bytes{0x00, 0xC0, 0x00, 0x00, 0x00}));
}

TEST(SmartcardFraming, StatusWordTable) {
  struct Case {
    Bytes answer;
    bool firstAnswer;
    AnswerVerdict verdict;
  };
  const Case cases[] = {
      {{0x61, 0x0A}, true, {true, kCardOk, false}},
      {{0x6C, 0x08}, true, {true, kCardOk, false}},
      {{0x91, 0x00}, true, {false, kCardOk, false}},
      {{0x91, 0x7E}, true, {false, kLengthError, false}},
      {{0x91, 0xA0}, true, {false, kCardOk, false}},
      {{0x91, 0xAF}, true, {false, kCardOk, false}},
      {{0x90, 0x00}, true, {false, kCardOk, false}},
      {{0x90, 0x01}, true, {false, kCardOk, false}},
      {{0x6E, 0x00}, true, {false, 0x6E00, false}},
      {{0x6A, 0x82}, true, {false, 0x6A82, false}},
      {{1, 2, 0x91, 0x00}, true, {false, kCardOk, true}},
      {{1, 2, 0x91, 0x7E}, true, {false, kLengthError, false}},
      {{1, 2, 0x91, 0xAF}, true, {false, kMoreData, true}},
      {{1, 2, 0x91, 0xA0}, true, {false, kCardOk, false}},
      {{1, 2, 0x90, 0x00}, true, {false, kCardOk, true}},
      {{1, 2, 0x90, 0x01}, true, {false, 0x9001, true}},
      {{1, 2, 0x6A, 0x82}, true, {false, 0x6A82, true}},
      {{1, 0x61, 0x0A}, true, {false, 0x610A, true}},
      // Too short to hold a status word: a failure, not a success.
      {{}, true, {false, kMalformedAnswer, false}},
      {{0x90}, true, {false, kMalformedAnswer, false}},
      // The answer to GET RESPONSE does not lead to another one.
      {{0x61, 0x0A}, false, {false, 0x610A, false}},
      {{0x6C, 0x08}, false, {false, 0x6C08, false}},
      {{0x90, 0x00}, false, {false, kCardOk, false}},
  };
  for (const Case& c : cases) {
    const AnswerVerdict v = JudgeAnswer(c.answer, c.firstAnswer);
    EXPECT_EQ(v.getResponse, c.verdict.getResponse) << Hex(c.answer);
    EXPECT_EQ(v.result, c.verdict.result) << Hex(c.answer);
    EXPECT_EQ(v.keepData, c.verdict.keepData) << Hex(c.answer);
  }
}

TEST(SmartcardFraming, BytesToHexWritesUpperCaseDigitsWithoutTerminator) {
  const std::uint8_t bytes[] = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0x0F, 0xF0, 0x01};
  char out[17];
  out[16] = '#';
  EXPECT_EQ(BytesToHex(bytes, out, 8), 0);
  EXPECT_EQ(std::string(out, 17), "1234ABCD000FF001#");
}

TEST_F(SmartcardTest, GetResponseFollowsA61Or6CAnswerOnBothProtocols) {
  const Bytes ten{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ConnectFor({{kSelectT1, {0x61, 0x0A}},
              {{0x00, 0xC0, 0x00, 0x00, 0x0A}, Cat({ten, {0x90, 0x00}})},
              {kSelectT1, {0x6C, 0x08}},
              {{0x00, 0xC0, 0x00, 0x00, 0x08}, Cat({kNumber, {0x91, 0x00}})},
              {kSelectT1, {0x61, 0x04}},
              {{0x00, 0xC0, 0x00, 0x00, 0x04}, {0x6A, 0x82}}});
  const CommandApdu select{0x90, 0x5A, 0, 0, {0x11, 0x87, 0x16}, 0};
  const SmartCard::Answer a = Card().SendAPDU(select, 64);
  EXPECT_EQ(a.result, kCardOk);
  EXPECT_EQ(Hex(a.data), Hex(ten));
  const SmartCard::Answer b = Card().SendAPDU(select, 64);
  EXPECT_EQ(b.result, kCardOk);
  EXPECT_EQ(Hex(b.data), Hex(kNumber));
  // A GET RESPONSE that the card refuses fails the command.
  EXPECT_EQ(Card().SendAPDU(select, 64).result, 0x6A82u);
  Card().ReleaseCard();
}

TEST_F(SmartcardTest, ServiceErrorsOfEitherExchangeAreTheResult) {
  ConnectFor({{kSelectT1, {}, Code(SCARD_W_REMOVED_CARD)},
              {kSelectT1, {0x61, 0x02}},
              {{0x00, 0xC0, 0x00, 0x00, 0x02}, {}, Code(SCARD_E_NOT_TRANSACTED)}});
  EXPECT_EQ(Card().SelectDESFire(1), Code(SCARD_W_REMOVED_CARD));
  EXPECT_EQ(Card().SelectDESFire(1), Code(SCARD_E_NOT_TRANSACTED));
  EXPECT_EQ(PcscCodeName(Code(SCARD_W_REMOVED_CARD)), "SCARD_W_REMOVED_CARD");
  EXPECT_EQ(PcscCodeName(0x12345678), "0x12345678");
  Card().ReleaseCard();
  EXPECT_TRUE(LogLines().empty());  // only a 6E00 select failure is logged
}

TEST_F(SmartcardTest, AnswersLongerThanTheBufferAreCutAndNothingIsWrittenBeyond) {
  Bytes big(254, 0xEE);
  for (std::size_t i = 0; i < kNumber.size(); ++i) big[i] = kNumber[i];
  ConnectFor({{kReadT1, Cat({big, {0x91, 0x00}})},
              {kRelaySelectT1, Cat({big, {0x90, 0x00}})},
              {kReadT1, Cat({big, {0x00, 0x91, 0x00}})}});  // 257 bytes: more than the service may write
  CardNumber number{};
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), kCardOk);
  EXPECT_EQ(Hex(number), Hex(kNumber));
  const SmartCard::Answer relay = Card().SendAPDU({0xF0, 0xDE, 0, 0, {0x5A, 0x11, 0x87, 0x16}, 0}, 32);
  EXPECT_EQ(relay.result, kCardOk);
  EXPECT_EQ(relay.data.size(), 32u);
  CardNumber untouched{};
  EXPECT_EQ(Card().ReadCardSNG2(untouched, 1), Code(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_EQ(untouched, CardNumber{});
  Card().ReleaseCard();
}

TEST_F(SmartcardTest, ReadsThatFailOrFallShortLeaveTheNumberUntouched) {
  const Bytes seven(kNumber.begin(), kNumber.begin() + 7);
  ConnectFor({{kReadT1, Cat({kNumber, {0x91, 0xAF}})},  // more data pending: not a read
              {kReadT1, Cat({seven, {0x91, 0x00}})},    // one byte short
              {kReadT1, {0x91, 0xF0}},                  // counts as success, but no data
              {kReadT1, {0x91}},                        // no status word
              {kRelayReadT1, Cat({{0x00}, seven, {0x90, 0x00}})},
              {kRelayReadT1, Cat({{0xAE}, kNumber, {0x90, 0x00}})},  // relayed status: failed
              {kRelayReadT1, {0x6A, 0x82}},
              {kRelayReadT1, Cat({{0x00}, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, {0x90, 0x00}})}});
  CardNumber number{};
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), kMoreData);
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), kMalformedAnswer);
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), kMalformedAnswer);
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), kMalformedAnswer);
  EXPECT_EQ(number, CardNumber{});
  EXPECT_EQ(Card().ReadCardIDViaApplet(number), kAppletReadFailed);
  EXPECT_EQ(Card().ReadCardIDViaApplet(number), kAppletReadFailed);
  EXPECT_EQ(Card().ReadCardIDViaApplet(number), kAppletReadFailed);
  EXPECT_EQ(number, CardNumber{});
  EXPECT_EQ(Card().ReadCardIDViaApplet(number), 0);
  EXPECT_EQ(number, (CardNumber{1, 2, 3, 4, 5, 6, 7, 8}));
  Card().ReleaseCard();
  EXPECT_EQ(LogLines(), std::vector<std::string>(4, "[smartCard]:error:ReadCardSNG2 Fail"));
}

TEST_F(SmartcardTest, CommandFailureLinesOnlyWithLogFlagOne) {
  ConnectFor({{kSelectT1, {0x6E, 0x00}},
              {kSelectT1, {0x6E, 0x00}},
              {kSelectT1, {0x6A, 0x82}},
              {kAppletT1, {0x6A, 0x82}},
              {kAppletT1, {0x6A, 0x82}},
              {kRelaySelectT1, {0x6F, 0x00}},
              {kReadT1, {0x6A, 0x82}},
              {kReadT1, {0x6A, 0x82}}});
  EXPECT_EQ(Card().SelectDESFire(1), 0x6E00u);
  EXPECT_EQ(Card().SelectDESFire(0), 0x6E00u);
  EXPECT_EQ(Card().SelectDESFire(1), 0x6A82u);  // not logged: only 6E00 is
  EXPECT_EQ(Card().SelectApplet(1), 0x6A82u);
  EXPECT_EQ(Card().SelectApplet(2), 0x6A82u);
  EXPECT_EQ(Card().SelectDESFireViaApplet(kNativeSelect, 1), 0x6F00u);
  CardNumber number{};
  EXPECT_EQ(Card().ReadCardSNG2(number, 0), 0x6A82u);
  EXPECT_EQ(Card().ReadCardSNG2(number, 1), 0x6A82u);
  Card().ReleaseCard();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[smartCard]:error:SelectDESFire Fail--6E00",
                                                  "[smartCard]:error:SelectEF Fail",
                                                  "[smartCard]:error:ReadCardSNG2 Fail",
                                                  "[smartCard]:error:ReadCardSNG2 Fail"}));
}

// Scripts of whole reads, as a system card answers them.
std::deque<Exchange> DirectCard(const Bytes& number, bool t0 = false) {
  if (t0) {
    return {{kSelectT0, {0x91, 0x00}},
            {kSelectT0, {0x91, 0x00}},
            {kReadT0, {0x61, 0x08}},
            {{0x00, 0xC0, 0x00, 0x00, 0x08}, Cat({number, {0x91, 0x00}})}};
  }
  return {{kSelectT1, {0x91, 0x00}}, {kSelectT1, {0x91, 0x00}}, {kReadT1, Cat({number, {0x91, 0x00}})}};
}
std::deque<Exchange> AppletReader(const Bytes& number) {
  return {{kSelectT1, {0x6E, 0x00}},       {kAppletT1, {0x90, 0x00}}, {kRelaySelectT1, {0x00, 0x90, 0x00}},
          {kSelectT1, {0x6E, 0x00}},       {kAppletT1, {0x90, 0x00}}, {kRelaySelectT1, {0x00, 0x90, 0x00}},
          {kRelayReadT1, Cat({{0x00}, number, {0x90, 0x00}})}};
}
const std::deque<Exchange> kForeignCard{{kSelectT1, {0x6E, 0x00}}, {kAppletT1, {0x6A, 0x82}}};

TEST_F(SmartcardTest, ReaderWalkSkipsEmptyAndForeignAndTakesTheFirstSystemCard) {
  pcsc_.AddReader("empty");
  pcsc_.AddReader("foreign", kForeignCard);
  pcsc_.AddReader("system", {{kSelectT1, {0x91, 0x00}}});
  pcsc_.AddReader("second system");  // never connected
  EXPECT_EQ(Card().ConnectCard(1), kConnected);
  EXPECT_EQ(Card().ReaderName(), "system");
  EXPECT_EQ(pcsc_.events, (std::vector<std::string>{"connect empty", "connect foreign", "disconnect foreign",
                                                    "connect system", "disconnect system", "connect system"}));
  EXPECT_EQ(Card().ReleaseCard(), kReleased);
  EXPECT_TRUE(Card().Released());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[smartCard]:error:SelectDESFire Fail--6E00",
                                                  "[smartCard]:error:SelectEF Fail"}));
}

TEST_F(SmartcardTest, ConnectCardOutcomes) {
  struct Case {
    const char* what;
    std::function<void(ScriptedPcsc&)> setUp;
    int code;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"no service", [](ScriptedPcsc& p) { p.establishError = Code(SCARD_E_NO_SERVICE); }, kNoContext,
       {"[smartCard]:error:SCardEstablishContext Fail"}},
      {"no readers", [](ScriptedPcsc& p) { p.listError = Code(SCARD_E_NO_READERS_AVAILABLE); }, kNoReaderList,
       {"[smartCard]:error:SCardListReaders Fail"}},
      {"empty list", [](ScriptedPcsc&) {}, kEmptyReaderList, {"[smartCard]:operation:No Read Connect"}},
      {"two empty readers",
       [](ScriptedPcsc& p) {
         p.AddReader("a");
         p.AddReader("b");
       },
       kNoCardConnected, {"[smartCard]:operation:No Card Found"}},
      {"foreign card", [](ScriptedPcsc& p) { p.AddReader("a", kForeignCard); }, kNoCardPassedProbe,
       {"[smartCard]:error:SelectDESFire Fail--6E00", "[smartCard]:error:SelectEF Fail"}},
      {"accepted card does not connect again",
       [](ScriptedPcsc& p) {
         p.AddReader("a", {{kSelectT1, {0x91, 0x00}}}).connectResults = {kPcscSuccess, Code(SCARD_W_REMOVED_CARD)};
       },
       kNoCardConnected, {"[smartCard]:operation:No Card Found"}},
  };
  for (const Case& c : cases) {
    test::ScratchDir logs("zivra-card-unit");
    ScriptedPcsc pcsc;
    c.setUp(pcsc);
    {
      SmartCard card(pcsc, LogWriter(logs.Folder()));
      EXPECT_EQ(card.ConnectCard(1), c.code) << c.what;
      EXPECT_TRUE(card.Released()) << c.what;
      EXPECT_EQ(pcsc.openCards, 0) << c.what;
      EXPECT_EQ(pcsc.openContexts, 0) << c.what;
    }
    EXPECT_EQ(DebugLogIn(logs), c.log) << c.what;
  }
}

// The Chinese result lines as Big5 (code page 950) bytes.
const std::string kNoReaderInstalled = "\xa8\x74\xb2\xce\xa5\xbc\xa6\x77\xb8\xcb\xa5\xf4\xa6\xf3\xc5\xaa\xa5\x64\xbe\xf7";
const std::string kNoReaderConnected = "\xa8\x74\xb2\xce\xa5\xbc\xb3\x73\xb1\xb5\xa5\xf4\xa6\xf3\xc5\xaa\xa5\x64\xbe\xf7";
const std::string kWrongCardPlaced = "\xa5\xbc\xa9\xf1\xb8\x6d\xa5\xbf\xbd\x54 zivra 2.0\xa5\x64\xa4\xf9";
const std::string kNotSystemCard = "\xb3\x6f\xa4\xa3\xac\x4f" "zivra 2.0\xa5\x64";
const std::string kCardError = "\xa5\x64\xa4\xf9\xbf\xf9\xbb\x7e";
const std::string kCardNumberUnreadable = "\xa5\x64\xb8\xb9\xb5\x4c\xaa\x6b\xc5\xaa\xa8\xfa";
const std::string kCardNumberRead = "\xa5\x64\xb8\xb9\xa4\x77\xa6\xa8\xa5\x5c\xc5\xaa\xa8\xfa";

std::string ResultLine(std::string_view level, std::string_view big5) {
  return "[zIvraSN]:" + std::string(level) + ":" + std::string(big5);
}

TEST_F(SmartcardTest, GetCardIdTextsAndLinesForEachOutcome) {
  struct Case {
    const char* what;
    std::function<void(ScriptedPcsc&)> setUp;
    std::wstring text;
    std::vector<std::string> log;  // with logFlag 1
  };
  const Bytes zeros(8, 0);
  const std::vector<Case> cases = {
      {"no service", [](ScriptedPcsc& p) { p.establishError = Code(SCARD_E_NO_SERVICE); },
       L"Err:No Smartcard Driver Installed",
       {"[smartCard]:error:SCardEstablishContext Fail", ResultLine("error", kNoReaderInstalled)}},
      {"no readers", [](ScriptedPcsc& p) { p.listError = Code(SCARD_E_NO_READERS_AVAILABLE); },
       L"Err:No Smartcard Reader Found",
       {"[smartCard]:error:SCardListReaders Fail", ResultLine("error", kNoReaderConnected)}},
      {"empty list", [](ScriptedPcsc&) {}, L"Err:No Smartcard Driver Installed",
       {"[smartCard]:operation:No Read Connect", ResultLine("error", kNoReaderInstalled)}},
      {"empty reader", [](ScriptedPcsc& p) { p.AddReader("a"); }, L"Err:No Card Found",
       {"[smartCard]:operation:No Card Found", ResultLine("error", kWrongCardPlaced)}},
      {"foreign card", [](ScriptedPcsc& p) { p.AddReader("a", kForeignCard); }, L"Err:Wrong Card",
       {"[smartCard]:error:SelectDESFire Fail--6E00", "[smartCard]:error:SelectEF Fail",
        ResultLine("error", kNotSystemCard)}},
      {"direct", [&](ScriptedPcsc& p) { p.AddReader("a", DirectCard(kNumber)); }, L"1234ABCD00000001",
       {ResultLine("debug", kCardNumberRead)}},
      {"direct on T=0", [&](ScriptedPcsc& p) { p.AddReader("a", DirectCard(kNumber, true), kProtocolT0); },
       L"1234ABCD00000001", {ResultLine("debug", kCardNumberRead)}},
      {"through the applet", [&](ScriptedPcsc& p) { p.AddReader("a", AppletReader(kNumber)); },
       L"1234ABCD00000001",
       {"[smartCard]:error:SelectDESFire Fail--6E00", "[smartCard]:error:SelectDESFire Fail--6E00",
        ResultLine("debug", kCardNumberRead)}},
      {"all-zero number", [&](ScriptedPcsc& p) { p.AddReader("a", DirectCard(zeros)); },
       L"Err:Cannot Read Card Data", {ResultLine("debug", kCardNumberUnreadable)}},
      {"family card without the application",
       [](ScriptedPcsc& p) {
         p.AddReader("a", {{kSelectT1, {0x91, 0xA0}}, {kSelectT1, {0x91, 0xA0}}, {kReadT1, {0x91, 0xF0}}});
       },
       L"Err:Cannot Read Card Data",
       {"[smartCard]:error:ReadCardSNG2 Fail", ResultLine("debug", kCardNumberUnreadable)}},
      {"card leaves before the select",
       [](ScriptedPcsc& p) {
         p.AddReader("a", {{kSelectT1, {0x91, 0x00}},
                           {kSelectT1, {}, Code(SCARD_W_REMOVED_CARD)},
                           {kAppletT1, {}, Code(SCARD_W_REMOVED_CARD)}});
       },
       L"Err:Wrong Card", {"[smartCard]:error:SelectEF Fail", ResultLine("error", kCardError)}},
      {"card leaves before the read",
       [](ScriptedPcsc& p) {
         p.AddReader("a", {{kSelectT1, {0x91, 0x00}},
                           {kSelectT1, {0x91, 0x00}},
                           {kReadT1, {}, Code(SCARD_E_NOT_TRANSACTED)}});
       },
       L"Err:Cannot Read Card Data",
       {"[smartCard]:error:ReadCardSNG2 Fail", ResultLine("debug", kCardNumberUnreadable)}},
      {"applet read fails", [&](ScriptedPcsc& p) {
         std::deque<Exchange> s = AppletReader(kNumber);
         s.back().answer = {0xAE, 0x90, 0x00};
         p.AddReader("a", s);
       },
       L"Err:Cannot Read Card Data",
       {"[smartCard]:error:SelectDESFire Fail--6E00", "[smartCard]:error:SelectDESFire Fail--6E00",
        ResultLine("debug", kCardNumberUnreadable)}},
  };
  for (const Case& c : cases) {
    test::ScratchDir logs("zivra-card-unit");
    ScriptedPcsc pcsc;
    c.setUp(pcsc);
    {
      SmartCard card(pcsc, LogWriter(logs.Folder()));
      EXPECT_EQ(card.GetCardID(1), c.text) << c.what;
      EXPECT_TRUE(card.Released()) << c.what;
      EXPECT_EQ(pcsc.openCards, 0) << c.what;
      EXPECT_EQ(pcsc.openContexts, 0) << c.what;
    }
    EXPECT_EQ(DebugLogIn(logs), c.log) << c.what;
  }
}

TEST_F(SmartcardTest, ServerReadsWriteOnlyTheReaderSearchLines) {
  pcsc_.AddReader("a", AppletReader(kNumber));
  EXPECT_EQ(Card().GetCardID(0), L"1234ABCD00000001");
  // The probe logs with flag 1 whatever the caller asks; the reading sequence does not.
  EXPECT_EQ(LogLines(), std::vector<std::string>{"[smartCard]:error:SelectDESFire Fail--6E00"});
}

TEST_F(SmartcardTest, TwoReadsInARowPowerTheCardDownAndUpEachTime) {
  std::deque<Exchange> twice = DirectCard(kNumber);
  for (const Exchange& e : DirectCard(kNumber)) twice.push_back(e);
  pcsc_.AddReader("a", twice);
  EXPECT_EQ(Card().GetCardID(0), L"1234ABCD00000001");
  EXPECT_EQ(Card().GetCardID(0), L"1234ABCD00000001");
  const std::vector<std::string> once{"connect a", "disconnect a", "connect a", "disconnect a"};
  std::vector<std::string> expected = once;
  expected.insert(expected.end(), once.begin(), once.end());
  EXPECT_EQ(pcsc_.events, expected);
}

}  // namespace
}  // namespace zivra::card
