#pragma once
// The small HTTPS client through which the tool asks its own server to read the card once.
// `SendHttpRequest` owns the decisions (how often to send, which challenge to answer with which
// credentials); an `HttpTransport` carries out one pass on the wire, so tests can script the
// answers and the program uses libcurl.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zivra::tool {

// Authentication schemes as bit flags.
enum AuthScheme : unsigned {
  kAuthBasic = 0x1,
  kAuthNtlm = 0x2,
  kAuthPassport = 0x4,
  kAuthDigest = 0x8,
  kAuthNegotiate = 0x10,
};

enum class AuthTarget { Server, Proxy };

// The settings of one request; fixed at construction.
class WinHttpClient {
 public:
  WinHttpClient(std::string host, std::uint32_t port, bool secure, std::string agent,
                std::string proxyUserName, std::string proxyPassword, std::string userName,
                std::string password);

  const std::string& Host() const { return host_; }
  std::uint16_t Port() const { return static_cast<std::uint16_t>(port_); }
  bool Secure() const { return secure_; }
  const std::string& Agent() const { return agent_; }
  const std::string& ProxyUserName() const { return proxyUserName_; }
  const std::string& ProxyPassword() const { return proxyPassword_; }
  const std::string& UserName() const { return userName_; }
  const std::string& Password() const { return password_; }

  // SendHttpRequest with the verb "POST" over libcurl, trusting the system's certificate
  // authorities and the installation's own local CA.
  bool Post(std::string_view path, std::string_view headers, std::string_view body,
            struct WinHttpResponse& response) const;

 private:
  std::string host_;
  std::uint32_t port_;
  bool secure_;
  std::string agent_;
  std::string proxyUserName_;
  std::string proxyPassword_;
  std::string userName_;
  std::string password_;
};

struct WinHttpResponse {
  std::string body;        // the last answer's body, bytes as received
  std::string rawHeaders;  // the last answer's status line and header lines, CR LF each, blank line last
  int status = 0;          // HTTP status; 0 until one has been read
  int received = 0;        // body bytes received over all passes
  std::string error;       // text of the last failure; empty when nothing failed
  bool refused = false;    // the last pass found nothing listening
};

// What one pass on the wire gave.
struct HttpPass {
  enum class Outcome {
    Answered,        // status, headers and the whole body arrived
    Refused,         // the connection was refused: nothing listens on the port (yet)
    SendFailed,      // no answer: not connected, TLS refused, request not sent
    ReceiveFailed,   // the request went out but no answer head came back
    ReadFailed,      // the head arrived, the body did not arrive whole
  };
  Outcome outcome = Outcome::SendFailed;
  int status = 0;
  std::string rawHeaders;
  std::string body;   // what arrived of the body, also when reading failed
  long errorCode = 0; // the transport's own error number for ReadFailed
};

// Carries out passes of one request. The credentials set for a target apply to every later pass.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Prepares a session for `client`'s host and port; false when that is impossible.
  virtual bool OpenSession(const WinHttpClient& client) = 0;
  virtual bool Connect(const WinHttpClient& client) = 0;
  // The schemes this transport can answer a challenge with.
  virtual unsigned UsableSchemes(AuthTarget target) const = 0;
  virtual bool SetCredentials(AuthTarget target, unsigned scheme, std::string_view user,
                              std::string_view password) = 0;
  virtual HttpPass Send(std::string_view verb, std::string_view path, std::string_view headers,
                        std::string_view body) = 0;
};

// Passes after which the request gives up even when challenges keep coming.
inline constexpr int kMaxPasses = 10;

// The first scheme present in `supported`, in the order Negotiate, NTLM, Digest, Basic; 0 when
// none is. Passport is never chosen: nothing here can answer it.
unsigned ChooseAuthScheme(unsigned supported);

// The challenge schemes of the header lines "WWW-Authenticate" (server) or "Proxy-Authenticate"
// (proxy) in `rawHeaders`. False when there is no such header at all.
bool QueryAuthSchemes(std::string_view rawHeaders, AuthTarget target, unsigned& supported,
                      unsigned& first);

// Sends the request and reads the whole answer; answers a 401 with the user's credentials and
// a 407 with the proxy user's, by sending again. Stops on a repeated 401 or 407, on any other
// status, on a failed step, or after kMaxPasses passes. True when the last step succeeded.
bool SendHttpRequest(std::string_view verb, const WinHttpClient& client, std::string_view path,
                     std::string_view headers, std::string_view body, WinHttpResponse& response,
                     HttpTransport& transport);

// POST "/?TestGetCardID" to the local server: the server then reads the card once and, in debug
// mode, logs it. A server that was started a moment ago may not listen yet, so a refused
// connection is tried again for up to `startWait`. The outcome is not passed on.
void SendTestGetCardID();
void SendTestGetCardID(HttpTransport& transport,
                       std::chrono::milliseconds startWait = std::chrono::seconds(5));

// File name of the installation's own certificate authority, beside the programs.
inline constexpr std::string_view kLocalCaName = "zivraLocalCA.crt";

}  // namespace zivra::tool
