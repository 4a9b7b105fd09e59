// The tool's HTTPS client over libcurl against real TLS: the real server, a server whose
// certificate is not trusted, nothing listening, and a scripted server that challenges.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/integration/tool_fixture.h"
#include "tool/curl_transport.h"
#include "tool/http_client.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tool::CurlTransport;
using tool::SendHttpRequest;
using tool::WinHttpClient;
using tool::WinHttpResponse;

// An HTTPS server on 127.0.0.1 that answers the connections it gets, one request each, from a
// script, and keeps the requests it read.
class ScriptedTlsServer {
 public:
  explicit ScriptedTlsServer(std::vector<std::string> replies) : replies_(std::move(replies)) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx_, Certificates().serverCert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx_, Certificates().serverKey.c_str(), SSL_FILETYPE_PEM);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~ScriptedTlsServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
    SSL_CTX_free(ctx_);
  }
  std::uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Loop() {
    std::size_t next = 0;
    while (!stop_ && next < replies_.size()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      timeval tv{5, 0};
      ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, c);
      if (SSL_accept(ssl) == 1) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
          const int n = SSL_read(ssl, buf, sizeof buf);
          if (n <= 0) break;
          request.append(buf, static_cast<std::size_t>(n));
        }
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
        }
        const std::string& reply = replies_[next++];
        SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
        SSL_shutdown(ssl);
      }
      SSL_free(ssl);
      ::close(c);
    }
  }

  std::vector<std::string> replies_;
  SSL_CTX* ctx_ = nullptr;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string Reply(const std::string& statusLine, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

const std::string kCa = Certificates().caCert.string();

TEST(ToolHttpClient, TheTestRequestReachesTheRealServerAndGetsTheCardReadingsText) {
  ScratchInstall install;
  Process server(install.Program("zivraBrowserServer"), Process::Options{{}, {}, {}, "/", ""});
  ASSERT_TRUE(WaitUntil([] { return ListeningSockets(kPort) > 0; }, 10s));

  CurlTransport transport(kCa);
  const WinHttpClient client("localhost", kPort, true, "WinHttpClient", "", "", "", "");
  WinHttpResponse r;
  EXPECT_TRUE(SendHttpRequest("POST", client, "/?TestGetCardID", "Content-Type: application/json", "", r, transport));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.error, "");
  // No reader in this test: the card read's own error text, as the body of a 200 answer.
  EXPECT_THAT(r.body, ::testing::StartsWith("Err:"));
  EXPECT_EQ(r.received, static_cast<int>(r.body.size()));
  EXPECT_THAT(r.rawHeaders, ::testing::StartsWith("HTTP/1.1 200 "));
  EXPECT_THAT(r.rawHeaders, HasSubstr("Content-Length: " + std::to_string(r.body.size()) + "\r\n"));
  EXPECT_TRUE(server.Running());
}

TEST(ToolHttpClient, TheRequestCarriesOnlyTheJsonHeaderBesideCurlsOwn) {
  ScriptedTlsServer s({Reply("200 OK", "", "fine")});
  CurlTransport transport(kCa);
  const WinHttpClient client("127.0.0.1", s.Port(), true, "WinHttpClient", "", "", "", "");
  WinHttpResponse r;
  EXPECT_TRUE(SendHttpRequest("POST", client, "/?TestGetCardID", "Content-Type: application/json", "", r, transport));
  ASSERT_EQ(s.Requests().size(), 1u);
  const std::string request = s.Requests()[0];
  EXPECT_THAT(request, ::testing::StartsWith("POST /?TestGetCardID HTTP/1.1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nContent-Type: application/json\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nContent-Length: 0\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nUser-Agent: WinHttpClient\r\n"));
  EXPECT_THAT(request, ::testing::Not(HasSubstr("Authorization")));
  EXPECT_THAT(request, ::testing::EndsWith("\r\n\r\n"));  // no body
  EXPECT_EQ(r.body, "fine");
}

TEST(ToolHttpClient, NothingListeningIsASendFailureAfterOnePass) {
  CurlTransport transport(kCa);
  const WinHttpClient client("localhost", kPort, true, "WinHttpClient", "", "", "", "");
  WinHttpResponse r;
  EXPECT_FALSE(SendHttpRequest("POST", client, "/?TestGetCardID", "", "", r, transport));
  EXPECT_EQ(r.error, "WinHttpSendRequest fails!");
  EXPECT_TRUE(r.refused);
  EXPECT_EQ(r.status, 0);
}

TEST(ToolHttpClient, AnUntrustedCertificateIsRefused) {
  ScratchDir dir("zivra-ca");
  WriteFile(dir.Path() / "zivraLocalCA.crt", "not a certificate\n");
  for (const std::string& ca : {std::string(), std::string("/nonexistent/zivraLocalCA.crt"),
                                (dir.Path() / "zivraLocalCA.crt").string()}) {
    ScriptedTlsServer s({Reply("200 OK", "", "must not arrive")});
    CurlTransport transport(ca);
    const WinHttpClient client("127.0.0.1", s.Port(), true, "WinHttpClient", "", "", "", "");
    WinHttpResponse r;
    EXPECT_FALSE(SendHttpRequest("POST", client, "/", "", "", r, transport));
    EXPECT_EQ(r.error, "WinHttpSendRequest fails!");
    EXPECT_FALSE(r.refused);
    EXPECT_EQ(r.body, "");
    EXPECT_TRUE(s.Requests().empty());
  }
}

TEST(ToolHttpClient, ACertificateForAnotherNameIsRefused) {
  // The test certificate names localhost, 127.0.0.1 and ::1, but not 127.0.0.2.
  ScriptedTlsServer s({Reply("200 OK", "", "x")});
  CurlTransport transport(kCa);
  const WinHttpClient client("127.0.0.2", s.Port(), true, "WinHttpClient", "", "", "", "");
  WinHttpResponse r;
  EXPECT_FALSE(SendHttpRequest("POST", client, "/", "", "", r, transport));
  EXPECT_EQ(r.error, "WinHttpSendRequest fails!");
}

TEST(ToolHttpClient, ABasicChallengeIsAnsweredWithTheUsersCredentials) {
  ScriptedTlsServer s({Reply("401 Unauthorized", "WWW-Authenticate: Basic realm=\"zivra\"\r\n", "who?"),
                       Reply("200 OK", "", "welcome")});
  CurlTransport transport(kCa);
  const WinHttpClient client("127.0.0.1", s.Port(), true, "WinHttpClient", "", "", "user", "secret");
  WinHttpResponse r;
  EXPECT_TRUE(SendHttpRequest("POST", client, "/x", "", "", r, transport));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "welcome");
  EXPECT_EQ(r.received, 11);
  const auto requests = s.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_THAT(requests[0], ::testing::Not(HasSubstr("Authorization")));
  EXPECT_THAT(requests[1], HasSubstr("\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n"));  // user:secret
}

TEST(ToolHttpClient, TwoBasicChallengesEndWithTheSecond401) {
  ScriptedTlsServer s({Reply("401 Unauthorized", "WWW-Authenticate: Basic realm=\"z\"\r\n", "no"),
                       Reply("401 Unauthorized", "WWW-Authenticate: Basic realm=\"z\"\r\n", "still no")});
  CurlTransport transport(kCa);
  const WinHttpClient client("127.0.0.1", s.Port(), true, "WinHttpClient", "", "", "user", "wrong");
  WinHttpResponse r;
  EXPECT_TRUE(SendHttpRequest("POST", client, "/x", "", "", r, transport));
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(r.body, "still no");
  EXPECT_EQ(s.Requests().size(), 2u);
}

TEST(ToolHttpClient, AnOversizedBodyIsCutAndReportedAsAReadError) {
  ScriptedTlsServer s({Reply("200 OK", "", std::string(5000, 'x'))});
  CurlTransport::Limits limits;
  limits.maxBodyBytes = 1000;
  CurlTransport transport(kCa, limits);
  const WinHttpClient client("127.0.0.1", s.Port(), true, "WinHttpClient", "", "", "", "");
  WinHttpResponse r;
  SendHttpRequest("POST", client, "/x", "", "", r, transport);
  EXPECT_EQ(r.status, 200);
  EXPECT_LE(r.body.size(), 1000u);
  EXPECT_THAT(r.error, ::testing::StartsWith("Error in WinHttpReadData: "));
}

}  // namespace
}  // namespace zivra::test
