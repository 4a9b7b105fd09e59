// The real server process over real TLS: the reply bytes of the router's cases, the lifecycle,
// the log lines, and where it listens.
#include <signal.h>

#include <regex>

#include "tests/support/isolation.h"
#include "tests/support/log_entries.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

class Server : public ServerFixture {};

TEST_F(Server, RouterRepliesByteForByte) {
  WriteFile(install_.File("Version.txt"), "0180");
  WriteFile(install_.File("EnvTest.html"), "<p>a</p>\r\n<p>b</p>\r\n");
  StartServer();
  ASSERT_TRUE(Listening());
  struct Case {
    std::string request;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"GET /?getversion HTTP/1.1\r\nHost: localhost\r\n\r\n", "0180"},
      {"POST /?getversion HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "0180"},
      {"OPTIONS /?getversion HTTP/1.1\r\n\r\n", "0180"},
      {"GET /xgetversion HTTP/1.1\r\n\r\n", "0180"},
      {"GET /?getversionxyz HTTP/1.1\r\n\r\n", "0180"},
      {"GET /EnvTest.html HTTP/1.1\r\n\r\n", "<p>a</p>\n<p>b</p>\n"},
      {"GET / HTTP/1.1\r\n\r\n", "Parameter incorrect\n"},
      {"GET /favicon.ico HTTP/1.1\r\n\r\n", "Parameter incorrect\n"},
      {"GET /?GetVersion HTTP/1.1\r\n\r\n", "Parameter incorrect\n"},
      {"GET /?getcardid HTTP/1.1\r\n\r\n", "Parameter incorrect\n"},
      {"PUT /x HTTP/1.1\r\nContent-Length: 27\r\n\r\nGET /?getversion HTTP/1.1\r\n", "0180"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(c.request), ExpectedReply(c.body)) << c.request;
  }
  EXPECT_TRUE(server_.Running());
}

TEST_F(Server, VersionBodyIsAtMostFiveBytesAndMissingFilesGiveEmptyBodies) {
  WriteFile(install_.File("Version.txt"), "01234567");
  std::filesystem::remove(install_.File("EnvTest.html"));
  StartServer();
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("01234"));
  EXPECT_EQ(Ask("GET /EnvTest.html HTTP/1.1\r\n\r\n"), ExpectedReply(""));
  std::filesystem::remove(install_.File("Version.txt"));
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply(""));
}

TEST_F(Server, LargePageIsCutAtTheBufferSize) {
  WriteFile(install_.File("EnvTest.html"), std::string(30010, 'x'));
  StartServer();
  EXPECT_EQ(Ask("GET /EnvTest.html HTTP/1.1\r\n\r\n"), ExpectedReply(std::string(30000, 'x')));
}

TEST_F(Server, AnswersOnBothLoopbackAddressesAndOnlyThere) {
  StartServer();
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n", "::1"), ExpectedReply("0180"));
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n", "localhost"), ExpectedReply("0180"));
  // Exactly two sockets listen on the port, one on each loopback address.
  std::vector<std::string> addresses = ListeningAddresses(kPort);
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ(addresses, (std::vector<std::string>{"00000000000000000000000001000000", "0100007F"}));
}

TEST_F(Server, CloseEndsServingButNotTheProcess) {
  StartServer();
  EXPECT_EQ(Ask("POST /?close HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), ExpectedReply("bye\n"));
  EXPECT_TRUE(WaitUntil([this] { return !Listening(); }, 5s));
  EXPECT_FALSE(CanConnect("::1", kPort));
  EXPECT_TRUE(server_.Running());
  server_.Signal(SIGTERM);  // a quit request now ends it: the server thread is gone
  EXPECT_EQ(server_.Wait(5s), 0);
}

TEST_F(Server, RequestWithoutAKnownMethodStopsServing) {
  StartServer();
  EXPECT_EQ(Ask("HEAD / HTTP/1.1\r\n\r\n"), ExpectedReply("bye\n"));
  EXPECT_TRUE(WaitUntil([this] { return !Listening(); }, 5s));
  EXPECT_TRUE(server_.Running());
}

TEST_F(Server, QuitRequestWaitsForTheServerThread) {
  StartServer();
  server_.Signal(SIGTERM);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(server_.Running());
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  Ask("GET /?close HTTP/1.1\r\n\r\n");
  EXPECT_EQ(server_.Wait(5s), 0);
}

TEST_F(Server, ShortLineGetsThePreludeOnlyAndIsLoggedInDebugMode) {
  StartServer({"Debug"});
  EXPECT_EQ(Ask("GET\r\n\r\n"), std::string(ExpectedReply("").substr(0, 100)));
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  EXPECT_EQ(LogEntries(Log("SysLog.txt")), (std::vector<std::string>{"[HttpsServer]:error:while error"}));
}

TEST_F(Server, PlainHttpClientIsDroppedAndTheNextIsServed) {
  StartServer({"Debug"});
  {
    TcpClient plain("127.0.0.1", kPort);
    ASSERT_TRUE(plain.Connected());
    plain.Send("GET /?getversion HTTP/1.1\r\n\r\n");
    const std::string answer = plain.ReadAll(5s);
    EXPECT_EQ(answer.find("200 OK"), std::string::npos);
  }
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  EXPECT_NE(Log("SysLog.txt").find("[HttpsServer]:error:while error\r\n"), std::string::npos);
}

TEST_F(Server, BadContentLengthGetsNoReply) {
  StartServer();
  EXPECT_EQ(Ask("POST /?getversion HTTP/1.1\r\nContent-Length: abc\r\n\r\n"), "");
  EXPECT_EQ(Ask("POST /?getversion HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n"), "");
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
}

TEST_F(Server, IdleConnectionDoesNotHoldUpARequest) {
  StartServer();
  TcpClient idle("127.0.0.1", kPort);
  ASSERT_TRUE(idle.Connected());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(Server, StalledClientIsDroppedAtTheReadDeadline) {
  StartServer({"Debug"});
  // A client that starts a request and then trickles nothing more is being served; it may hold the
  // next client only until the read deadline ends it.
  TcpClient stalled("127.0.0.1", kPort);
  ASSERT_TRUE(stalled.Connected());
  stalled.Send(std::string("\x16\x03\x01", 3));
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 9s);
  EXPECT_EQ(stalled.ReadAll(1s), "");  // dropped without a reply
  EXPECT_NE(Log("SysLog.txt").find("[HttpsServer]:error:while error"), std::string::npos);
}

TEST_F(Server, DebugLinesByteForByte) {
  StartServer({"Debug"});
  ASSERT_TRUE(Listening());
  auto entries = LogEntries(Log("zivraDebug.txt"));
  std::sort(entries.begin(), entries.end());
  const std::vector<std::string> expectedUnsorted = {"[HttpsServer]:debug:read Certificate successful",
                                       "[zivraBrowserServer]:debug:" + Big5("元件啟動成功")};
  std::vector<std::string> expected = expectedUnsorted;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries, expected);
  EXPECT_FALSE(std::filesystem::exists(install_.File("SysLog.txt")));
}

TEST_F(Server, DebugSwitchIsTheFirstFiveCharacters) {
  struct Case {
    std::vector<std::string> args;
    bool debug;
  };
  for (const Case& c : std::vector<Case>{{{"Debug7", "more"}, true}, {{"debug"}, false}, {{}, false},
                                          {{"Debu"}, false}, {{"Debug"}, true}}) {
    std::filesystem::remove(install_.File("zivraDebug.txt"));
    StartServer(c.args);
    ASSERT_TRUE(Listening());
    EXPECT_EQ(std::filesystem::exists(install_.File("zivraDebug.txt")), c.debug)
        << (c.args.empty() ? "(none)" : c.args[0]);
    server_.Kill();
    WaitUntil([this] { return !Listening(); }, 5s);
  }
}

TEST_F(Server, SecondInstanceReportsPortError) {
  StartServer();
  ASSERT_TRUE(Listening());
  ScratchInstall other;
  Process second(other.Program("zivraBrowserServer"),
                 Process::Options{{"Debug"}, {}, {}, "/", other.Folder() + "server"});
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(other.File("zivraDebug.txt")).find("port error") != std::string::npos; }, 5s));
  EXPECT_TRUE(second.Running());
  EXPECT_EQ(Ask("GET /?getversion HTTP/1.1\r\n\r\n"), ExpectedReply("0180"));
}

TEST_F(Server, MissingCertificateOrKeyIsLoggedAndNothingListens) {
  std::filesystem::remove(install_.File("server.crt"));
  StartServer({"Debug"}, {}, false);
  EXPECT_TRUE(WaitUntil([this] { return Log("zivraDebug.txt").find("read Certificate error") != std::string::npos; }, 5s));
  EXPECT_FALSE(Listening());
  EXPECT_TRUE(server_.Running());
  server_.Kill();

  std::filesystem::copy_file(Certificates().serverCert, install_.File("server.crt"));
  WriteFile(install_.File("server.key"), "not a key\n");
  StartServer({"Debug"}, {}, false);
  EXPECT_TRUE(WaitUntil([this] { return Log("zivraDebug.txt").find("[HttpsServer]:error:read key error\r\n") != std::string::npos; }, 5s));
  EXPECT_FALSE(Listening());
}

}  // namespace
}  // namespace zivra::test
