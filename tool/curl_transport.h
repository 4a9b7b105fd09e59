#pragma once
#include <chrono>
#include <string>

#include "tool/http_client.h"

namespace zivra::tool {

// HttpTransport over libcurl: one easy handle for all passes of a request, so a connection and
// a running authentication exchange carry over from pass to pass. The server's certificate is
// always checked, against the system's authorities and, when given and present, one more CA file.
class CurlTransport : public HttpTransport {
 public:
  struct Limits {
    std::chrono::milliseconds connect{10000};
    std::chrono::milliseconds pass{30000};   // a whole pass, head and body
    std::size_t maxHeaderBytes = 64 * 1024;
    std::size_t maxBodyBytes = 1024 * 1024;
  };

  explicit CurlTransport(std::string extraCaFile = {});
  CurlTransport(std::string extraCaFile, Limits limits);
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;
  ~CurlTransport() override;

  bool OpenSession(const WinHttpClient& client) override;
  bool Connect(const WinHttpClient& client) override;
  unsigned UsableSchemes(AuthTarget target) const override;
  bool SetCredentials(AuthTarget target, unsigned scheme, std::string_view user,
                      std::string_view password) override;
  HttpPass Send(std::string_view verb, std::string_view path, std::string_view headers,
                std::string_view body) override;

 private:
  void Close();

  std::string extraCaFile_;
  Limits limits_;
  void* curl_ = nullptr;  // CURL*
  std::string agent_;
  std::string origin_;    // "https://host:port"
  bool loopback_ = false;
  unsigned serverScheme_ = 0;
  std::string serverUser_, serverPassword_;
  unsigned proxyScheme_ = 0;
  std::string proxyUser_, proxyPassword_;
};

// The installation's local CA file: the executable's folder + kLocalCaName.
std::string LocalCaFile();

}  // namespace zivra::tool
