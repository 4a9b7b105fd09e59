#pragma once
#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/loopback_listener.h"
#include "server/channel.h"

namespace zivra::server {

struct SslCtxFree {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct BioFreeAll {
  void operator()(BIO* p) const { BIO_free_all(p); }
};
struct BioMethFree {
  void operator()(BIO_METHOD* p) const { BIO_meth_free(p); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using BioPtr = std::unique_ptr<BIO, BioFreeAll>;
using BioMethodPtr = std::unique_ptr<BIO_METHOD, BioMethFree>;

// A write-only memory channel that captures what OpenSSL prints (its error queue). It points at
// its own text field, so it is neither copied nor moved.
class StringBIO {
 public:
  StringBIO();
  StringBIO(const StringBIO&) = delete;
  StringBIO& operator=(const StringBIO&) = delete;

  BIO* Get() const { return bio_.get(); }
  std::string TakeText() { return std::move(text_); }

 private:
  std::string text_;
  BioMethodPtr method_;
  BioPtr bio_;
};

// Prints OpenSSL's queued errors into a StringBIO and returns the text.
std::string TakeOpenSslErrors();

// One client connection: a server-side TLS layer over the accepted socket. The handshake happens
// during the first read. Reads fail once `readDeadline` has passed; each write may take at most
// `writeLimit`.
class TlsChannel final : public Channel {
 public:
  TlsChannel(SSL_CTX* ctx, platform::Socket socket,
             std::chrono::steady_clock::time_point readDeadline,
             std::chrono::milliseconds writeLimit);

  int Read(char* buffer, int size) override;
  bool ShouldRetry() const override;
  void Write(std::string_view bytes) override;
  void Flush() override;
  std::string TakeErrorText() override;

 private:
  int fd_;
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::milliseconds writeLimit_;
  BioPtr chain_;
  std::string extraError_;
};

}  // namespace zivra::server
