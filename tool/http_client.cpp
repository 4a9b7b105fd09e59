#include "tool/http_client.h"

#include <array>
#include <thread>
#include <utility>

namespace zivra::tool {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

unsigned SchemeFlag(std::string_view token) {
  struct Name {
    std::string_view name;
    unsigned flag;
  };
  static constexpr std::array<Name, 5> kNames{{{"Negotiate", kAuthNegotiate},
                                               {"NTLM", kAuthNtlm},
                                               {"Passport1.4", kAuthPassport},
                                               {"Digest", kAuthDigest},
                                               {"Basic", kAuthBasic}}};
  for (const Name& n : kNames) {
    if (EqualsIgnoringCase(token, n.name)) return n.flag;
  }
  return 0;
}

// Adds the schemes named in one challenge header value, such as
// `Digest realm="a", nonce="b", Basic realm="a"`: a scheme is a token at the start of a
// comma-separated piece that is not itself a parameter ("name=value").
void AddChallengeSchemes(std::string_view value, unsigned& supported, unsigned& first) {
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const bool end = i == value.size();
    if (!end && value[i] == '"' && (i == 0 || value[i - 1] != '\\')) quoted = !quoted;
    if (!end && (quoted || value[i] != ',')) continue;
    const std::string_view piece = Trim(value.substr(start, i - start));
    start = i + 1;
    const std::string_view token = piece.substr(0, piece.find_first_of(" \t"));
    if (token.empty() || token.find('=') != std::string_view::npos) continue;
    const unsigned flag = SchemeFlag(token);
    if (flag == 0) continue;
    if (supported == 0) first = flag;
    supported |= flag;
  }
}

constexpr std::string_view kSendFailed = "WinHttpSendRequest fails!";

}  // namespace

WinHttpClient::WinHttpClient(std::string host, std::uint32_t port, bool secure, std::string agent,
                             std::string proxyUserName, std::string proxyPassword,
                             std::string userName, std::string password)
    : host_(std::move(host)),
      port_(port),
      secure_(secure),
      agent_(std::move(agent)),
      proxyUserName_(std::move(proxyUserName)),
      proxyPassword_(std::move(proxyPassword)),
      userName_(std::move(userName)),
      password_(std::move(password)) {}

unsigned ChooseAuthScheme(unsigned supported) {
  for (unsigned scheme : {kAuthNegotiate, kAuthNtlm, kAuthDigest, kAuthBasic}) {
    if ((supported & scheme) != 0) return scheme;
  }
  return 0;
}

bool QueryAuthSchemes(std::string_view rawHeaders, AuthTarget target, unsigned& supported,
                      unsigned& first) {
  const std::string_view wanted = target == AuthTarget::Server ? "WWW-Authenticate" : "Proxy-Authenticate";
  supported = 0;
  first = 0;
  bool found = false;
  std::size_t start = 0;
  while (start < rawHeaders.size()) {
    std::size_t end = rawHeaders.find('\n', start);
    if (end == std::string_view::npos) end = rawHeaders.size();
    const std::string_view line = rawHeaders.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsIgnoringCase(Trim(line.substr(0, colon)), wanted)) continue;
    found = true;
    AddChallengeSchemes(line.substr(colon + 1), supported, first);
  }
  return found;
}

bool SendHttpRequest(std::string_view verb, const WinHttpClient& client, std::string_view path,
                     std::string_view headers, std::string_view body, WinHttpResponse& response,
                     HttpTransport& transport) {
  response.status = 0;
  response.refused = false;
  if (!transport.OpenSession(client)) {
    response.error = "WinHttpOpen fails!";
    return false;
  }
  if (!transport.Connect(client)) {
    response.error = "WinHttpConnect fails!";
    return false;
  }

  int lastStatus = 0;
  unsigned proxyScheme = 0;
  bool ok = false;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    if (proxyScheme != 0 && !client.ProxyUserName().empty()) {
      ok = transport.SetCredentials(AuthTarget::Proxy, proxyScheme, client.ProxyUserName(),
                                    client.ProxyPassword());
      if (!ok) response.error = "WinHttpSetCredentials fails!";
    }

    const HttpPass answer = transport.Send(verb, path, headers, body);
    response.refused = answer.outcome == HttpPass::Outcome::Refused;
    switch (answer.outcome) {
      case HttpPass::Outcome::Refused:
      case HttpPass::Outcome::SendFailed:
        response.error = kSendFailed;
        return false;
      case HttpPass::Outcome::ReceiveFailed:
        response.error = "WinHttpReceiveResponse fails!";
        return false;
      case HttpPass::Outcome::Answered:
      case HttpPass::Outcome::ReadFailed:
        break;
    }
    response.status = answer.status;
    response.rawHeaders = answer.rawHeaders;
    response.body = answer.body;
    response.received += static_cast<int>(answer.body.size());
    ok = true;
    if (answer.outcome == HttpPass::Outcome::ReadFailed) {
      // The head is there, so the status still decides; only the body is short.
      response.error = "Error in WinHttpReadData: " + std::to_string(answer.errorCode);
    }

    bool done = true;
    unsigned supported = 0, first = 0;
    if (response.status == 401) {
      ok = QueryAuthSchemes(response.rawHeaders, AuthTarget::Server, supported, first);
      if (!ok) {
        response.error = "WinHttpQueryAuthSchemes in case 401 fails!";
      } else {
        const unsigned scheme = ChooseAuthScheme(supported & transport.UsableSchemes(AuthTarget::Server));
        if (scheme != 0) {
          ok = transport.SetCredentials(AuthTarget::Server, scheme, client.UserName(), client.Password());
          if (!ok) response.error = "WinHttpSetCredentials in case 401 fails!";
          done = lastStatus == 401;
        }
      }
    } else if (response.status == 407) {
      ok = QueryAuthSchemes(response.rawHeaders, AuthTarget::Proxy, supported, first);
      if (!ok) {
        response.error = "WinHttpQueryAuthSchemes in case 407 fails!";
      } else {
        proxyScheme = ChooseAuthScheme(supported & transport.UsableSchemes(AuthTarget::Proxy));
        done = lastStatus == 407;
      }
    }
    lastStatus = response.status;
    if (done || !ok) break;
  }
  return ok;
}

void SendTestGetCardID(HttpTransport& transport, std::chrono::milliseconds startWait) {
  const WinHttpClient req("localhost", 32860, true, "WinHttpClient", "", "", "", "");
  const auto deadline = std::chrono::steady_clock::now() + startWait;
  for (;;) {
    WinHttpResponse response;
    SendHttpRequest("POST", req, "/?TestGetCardID", "Content-Type: application/json", "", response,
                    transport);
    if (!response.refused || std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace zivra::tool
