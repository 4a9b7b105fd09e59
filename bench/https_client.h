#pragma once
#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

namespace zivra::bench {

// A TLS client that keeps one context (trust store loaded once) and makes a new connection for
// every request, as a browser page does against the local server.
class HttpsClient {
 public:
  explicit HttpsClient(const std::string& caFile);
  // One request on a fresh connection; returns the whole reply, empty on failure.
  std::string Request(const std::string& host, std::uint16_t port, const std::string& request);

 private:
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx_;
};

}  // namespace zivra::bench
