// The request loop of the local HTTPS client over a scripted transport: which answers make it
// send again, with which credentials, and where it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "tool/http_client.h"

namespace zivra::tool {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

HttpPass Answer(int status, std::string headers, std::string body = {}) {
  HttpPass p;
  p.outcome = HttpPass::Outcome::Answered;
  p.status = status;
  p.rawHeaders = "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers + "\r\n";
  p.body = std::move(body);
  return p;
}

HttpPass Failed(HttpPass::Outcome outcome) {
  HttpPass p;
  p.outcome = outcome;
  return p;
}

// Answers each pass from a script and records what the loop asked for; a pass beyond the script
// fails the test.
class ScriptedTransport : public HttpTransport {
 public:
  explicit ScriptedTransport(std::deque<HttpPass> script) : script_(std::move(script)) {}

  bool OpenSession(const WinHttpClient&) override { return openOk; }
  bool Connect(const WinHttpClient&) override { return connectOk; }
  unsigned UsableSchemes(AuthTarget) const override { return usable; }
  bool SetCredentials(AuthTarget target, unsigned scheme, std::string_view user,
                      std::string_view password) override {
    calls.push_back(std::string(target == AuthTarget::Server ? "server" : "proxy") + " credentials " +
                    std::to_string(scheme) + " " + std::string(user) + ":" + std::string(password));
    return credentialsOk;
  }
  HttpPass Send(std::string_view verb, std::string_view path, std::string_view headers,
                std::string_view body) override {
    calls.push_back("send " + std::string(verb) + " " + std::string(path) + " [" + std::string(headers) +
                    "] [" + std::string(body) + "]");
    if (script_.empty()) {
      ADD_FAILURE() << "a pass beyond the script";
      return Failed(HttpPass::Outcome::SendFailed);
    }
    HttpPass next = std::move(script_.front());
    script_.pop_front();
    return next;
  }

  bool openOk = true;
  bool connectOk = true;
  bool credentialsOk = true;
  unsigned usable = kAuthBasic | kAuthDigest | kAuthNtlm | kAuthNegotiate;
  std::vector<std::string> calls;

 private:
  std::deque<HttpPass> script_;
};

const WinHttpClient kClient("localhost", 32860, true, "WinHttpClient", "", "", "user", "secret");
const WinHttpClient kProxyClient("localhost", 32860, true, "WinHttpClient", "puser", "ppass", "", "");
const std::string kSend = "send POST /p [] []";

bool Post(const WinHttpClient& client, ScriptedTransport& t, WinHttpResponse& r) {
  return SendHttpRequest("POST", client, "/p", "", "", r, t);
}

TEST(ChooseAuthScheme, PicksByFixedPriorityAndNeverPassport) {
  struct Case {
    unsigned mask;
    unsigned chosen;
  };
  const Case cases[] = {
      {0, 0},
      {kAuthBasic, kAuthBasic},
      {kAuthBasic | kAuthDigest, kAuthDigest},
      {kAuthDigest | kAuthNtlm, kAuthNtlm},
      {kAuthNtlm | kAuthNegotiate | kAuthBasic, kAuthNegotiate},
      {kAuthPassport, 0},
      {kAuthPassport | kAuthBasic, kAuthBasic},
      {0x20 | 0x40, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseAuthScheme(c.mask), c.chosen) << c.mask;
}

TEST(QueryAuthSchemes, ReadsTheChallengesOfTheAskedTarget) {
  struct Case {
    std::string headers;
    AuthTarget target;
    bool found;
    unsigned supported;
    unsigned first;
  };
  const Case cases[] = {
      {"WWW-Authenticate: Basic realm=\"a\"\r\n", AuthTarget::Server, true, kAuthBasic, kAuthBasic},
      {"www-authenticate: negotiate\r\nWWW-Authenticate: NTLM\r\n", AuthTarget::Server, true,
       kAuthNegotiate | kAuthNtlm, kAuthNegotiate},
      // Parameters (quoted commas among them) are not schemes; a second challenge in one line is.
      {"WWW-Authenticate: Digest realm=\"x, Basic y\", nonce=\"1\", Basic realm=\"x\"\r\n",
       AuthTarget::Server, true, kAuthDigest | kAuthBasic, kAuthDigest},
      {"WWW-Authenticate: Passport1.4 da=1\r\n", AuthTarget::Server, true, kAuthPassport, kAuthPassport},
      {"WWW-Authenticate: Bearer realm=\"x\"\r\n", AuthTarget::Server, true, 0, 0},
      {"Proxy-Authenticate: Basic realm=\"p\"\r\n", AuthTarget::Server, false, 0, 0},
      {"Proxy-Authenticate: Basic realm=\"p\"\r\n", AuthTarget::Proxy, true, kAuthBasic, kAuthBasic},
      {"Content-Length: 0\r\n", AuthTarget::Proxy, false, 0, 0},
  };
  for (const Case& c : cases) {
    unsigned supported = 99, first = 99;
    EXPECT_EQ(QueryAuthSchemes("HTTP/1.1 401 X\r\n" + c.headers + "\r\n", c.target, supported, first), c.found)
        << c.headers;
    EXPECT_EQ(supported, c.supported) << c.headers;
    EXPECT_EQ(first, c.first) << c.headers;
  }
}

TEST(SendHttpRequest, OneAnswerEndsTheLoopWithItsStatusBodyAndHeaders) {
  ScriptedTransport t({Answer(200, "Content-Length: 2\r\n", "ok")});
  WinHttpResponse r;
  EXPECT_TRUE(SendHttpRequest("POST", kClient, "/?x", "Content-Type: a/b", "body", r, t));
  EXPECT_THAT(t.calls, ElementsAre("send POST /?x [Content-Type: a/b] [body]"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "ok");
  EXPECT_EQ(r.received, 2);
  EXPECT_EQ(r.rawHeaders, "HTTP/1.1 200 X\r\nContent-Length: 2\r\n\r\n");
  EXPECT_EQ(r.error, "");
}

TEST(SendHttpRequest, EmptyBodyReceivesNothing) {
  ScriptedTransport t({Answer(200, "Content-Length: 0\r\n")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(r.received, 0);
}

TEST(SendHttpRequest, FailuresBeforeAnyPassNameTheirStep) {
  {
    ScriptedTransport t({});
    t.openOk = false;
    WinHttpResponse r;
    EXPECT_FALSE(Post(kClient, t, r));
    EXPECT_EQ(r.error, "WinHttpOpen fails!");
    EXPECT_THAT(t.calls, IsEmpty());
  }
  {
    ScriptedTransport t({});
    t.connectOk = false;
    WinHttpResponse r;
    EXPECT_FALSE(Post(kClient, t, r));
    EXPECT_EQ(r.error, "WinHttpConnect fails!");
  }
}

TEST(SendHttpRequest, AFailedPassEndsTheLoopAfterOnePass) {
  struct Case {
    HttpPass::Outcome outcome;
    std::string error;
    bool refused;
  };
  const Case cases[] = {
      {HttpPass::Outcome::Refused, "WinHttpSendRequest fails!", true},
      {HttpPass::Outcome::SendFailed, "WinHttpSendRequest fails!", false},
      {HttpPass::Outcome::ReceiveFailed, "WinHttpReceiveResponse fails!", false},
  };
  for (const Case& c : cases) {
    ScriptedTransport t({Failed(c.outcome)});
    WinHttpResponse r;
    EXPECT_FALSE(Post(kClient, t, r));
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.refused, c.refused);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(t.calls.size(), 1u);
  }
}

TEST(SendHttpRequest, ABodyCutShortKeepsTheStatusAndTellsTheReadError) {
  HttpPass cut = Answer(200, "Content-Length: 10\r\n", "abc");
  cut.outcome = HttpPass::Outcome::ReadFailed;
  cut.errorCode = 18;
  ScriptedTransport t({cut});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "abc");
  EXPECT_EQ(r.error, "Error in WinHttpReadData: 18");
}

TEST(SendHttpRequest, A401WithoutAUsableSchemeEndsAfterOnePassKeepingItsBody) {
  ScriptedTransport t({Answer(401, "WWW-Authenticate: Bearer realm=\"x\"\r\nWWW-Authenticate: Passport1.4 x\r\n",
                              "denied")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend));
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(r.body, "denied");
}

TEST(SendHttpRequest, A401SchemeTheTransportCannotAnswerIsNotChosen) {
  ScriptedTransport t({Answer(401, "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"),
                       Answer(200, "")});
  t.usable = kAuthBasic | kAuthDigest;
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend, "server credentials 1 user:secret", kSend));
  EXPECT_EQ(r.status, 200);
}

TEST(SendHttpRequest, A401WithoutAChallengeHeaderFails) {
  ScriptedTransport t({Answer(401, "Content-Length: 0\r\n")});
  WinHttpResponse r;
  EXPECT_FALSE(Post(kClient, t, r));
  EXPECT_EQ(r.error, "WinHttpQueryAuthSchemes in case 401 fails!");
  EXPECT_EQ(r.status, 401);
}

TEST(SendHttpRequest, A401IsAnsweredWithTheUsersCredentials) {
  ScriptedTransport t({Answer(401, "WWW-Authenticate: Basic realm=\"r\"\r\n", "no"),
                       Answer(200, "", "yes")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend, "server credentials 1 user:secret", kSend));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "yes");
  EXPECT_EQ(r.received, 5);  // both passes' bodies
}

TEST(SendHttpRequest, TwoA401sInARowSendTwiceAndEndWith401) {
  ScriptedTransport t({Answer(401, "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"),
                       Answer(401, "WWW-Authenticate: Digest realm=\"r\", nonce=\"m\"\r\n", "still no")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend, "server credentials 8 user:secret", kSend,
                                   "server credentials 8 user:secret"));
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(r.body, "still no");
}

TEST(SendHttpRequest, FailingToSetServerCredentialsEndsTheLoop) {
  ScriptedTransport t({Answer(401, "WWW-Authenticate: Basic realm=\"r\"\r\n")});
  t.credentialsOk = false;
  WinHttpResponse r;
  EXPECT_FALSE(Post(kClient, t, r));
  EXPECT_EQ(r.error, "WinHttpSetCredentials in case 401 fails!");
  EXPECT_EQ(t.calls.size(), 2u);
}

TEST(SendHttpRequest, A407WithAnEmptyProxyUserIsSentAgainWithoutCredentials) {
  ScriptedTransport t({Answer(407, "Proxy-Authenticate: Basic realm=\"p\"\r\n"),
                       Answer(407, "Proxy-Authenticate: Basic realm=\"p\"\r\n")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend, kSend));
  EXPECT_EQ(r.status, 407);
}

TEST(SendHttpRequest, A407IsAnsweredWithTheProxyUsersCredentialsOnTheNextPass) {
  ScriptedTransport t({Answer(407, "Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"),
                       Answer(200, "")});
  WinHttpResponse r;
  EXPECT_TRUE(Post(kProxyClient, t, r));
  EXPECT_THAT(t.calls, ElementsAre(kSend, "proxy credentials 2 puser:ppass", kSend));
  EXPECT_EQ(r.status, 200);
}

TEST(SendHttpRequest, A407WithoutAChallengeHeaderFails) {
  ScriptedTransport t({Answer(407, "")});
  WinHttpResponse r;
  EXPECT_FALSE(Post(kProxyClient, t, r));
  EXPECT_EQ(r.error, "WinHttpQueryAuthSchemes in case 407 fails!");
}

TEST(SendHttpRequest, Alternating401And407StopsAfterTheCap) {
  std::deque<HttpPass> script;
  for (int i = 0; i < kMaxPasses; ++i) {
    script.push_back(i % 2 == 0 ? Answer(401, "WWW-Authenticate: Basic realm=\"r\"\r\n")
                                : Answer(407, "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
  }
  ScriptedTransport t(script);
  const WinHttpClient both("localhost", 32860, true, "a", "pu", "pp", "u", "p");
  WinHttpResponse r;
  EXPECT_TRUE(Post(both, t, r));
  const auto sends = std::count_if(t.calls.begin(), t.calls.end(),
                                   [](const std::string& c) { return c.starts_with("send"); });
  EXPECT_EQ(sends, kMaxPasses);  // and the script's end was never passed
  EXPECT_EQ(r.status, 407);
}

TEST(SendTestGetCardID, PostsTheTestCommandWithTheJsonHeaderAndNoBody) {
  ScriptedTransport t({Answer(200, "", "Err:x")});
  SendTestGetCardID(t, std::chrono::milliseconds(0));
  EXPECT_THAT(t.calls, ElementsAre("send POST /?TestGetCardID [Content-Type: application/json] []"));
}

TEST(SendTestGetCardID, WaitsForAServerThatDoesNotListenYet) {
  ScriptedTransport t({Failed(HttpPass::Outcome::Refused), Failed(HttpPass::Outcome::Refused),
                       Answer(200, "", "Err:x")});
  SendTestGetCardID(t, std::chrono::seconds(30));
  EXPECT_EQ(t.calls.size(), 3u);
}

TEST(SendTestGetCardID, OtherFailuresAndTheDeadlineEndTheWait) {
  {
    ScriptedTransport t({Failed(HttpPass::Outcome::SendFailed)});
    SendTestGetCardID(t, std::chrono::seconds(30));
    EXPECT_EQ(t.calls.size(), 1u);
  }
  {
    ScriptedTransport t({Failed(HttpPass::Outcome::Refused)});
    SendTestGetCardID(t, std::chrono::milliseconds(0));
    EXPECT_EQ(t.calls.size(), 1u);
  }
}

}  // namespace
}  // namespace zivra::tool
