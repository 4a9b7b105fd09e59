#include "server/tls_channel.h"

#include <openssl/err.h>

#include <stdexcept>

namespace zivra::server {
namespace {

int StringBioWrite(BIO* bio, const char* data, int length) {
  auto* text = static_cast<std::string*>(BIO_get_data(bio));
  if (length <= 0) return 0;
  text->append(data, static_cast<std::size_t>(length));
  return length;
}

}  // namespace

StringBIO::StringBIO() {
  method_.reset(BIO_meth_new(0x400, "StringBIO"));
  if (!method_) throw std::runtime_error("StringBIO: error in BIO_meth_new");
  BIO_meth_set_write(method_.get(), StringBioWrite);
  bio_.reset(BIO_new(method_.get()));
  if (!bio_) throw std::runtime_error("StringBIO: error in BIO_new");
  BIO_set_data(bio_.get(), &text_);
  BIO_set_init(bio_.get(), 1);
}

std::string TakeOpenSslErrors() {
  StringBIO sink;
  ERR_print_errors(sink.Get());
  return sink.TakeText();
}

TlsChannel::TlsChannel(SSL_CTX* ctx, platform::Socket socket,
                       std::chrono::steady_clock::time_point readDeadline,
                       std::chrono::milliseconds writeLimit)
    : fd_(socket.Get()), deadline_(readDeadline), writeLimit_(writeLimit) {
  BioPtr raw(BIO_new_socket(socket.Get(), BIO_CLOSE));
  if (!raw) throw std::runtime_error("error in BIO_new_socket\n" + TakeOpenSslErrors());
  socket.Release();  // the socket channel closes it now
  BIO* ssl = BIO_new_ssl(ctx, 0);
  if (ssl == nullptr) throw std::runtime_error("error in BIO_new_ssl\n" + TakeOpenSslErrors());
  chain_.reset(BIO_push(ssl, raw.release()));
}

int TlsChannel::Read(char* buffer, int size) {
  if (!platform::LimitSocketTo(fd_, deadline_)) {
    extraError_ = "the client did not send its request within the read deadline\n";
    return -1;
  }
  const int n = BIO_read(chain_.get(), buffer, size);
  if (n <= 0 && !ShouldRetry() && std::chrono::steady_clock::now() >= deadline_) {
    extraError_ = "the client did not send its request within the read deadline\n";
    return -1;
  }
  return n;
}

bool TlsChannel::ShouldRetry() const { return BIO_should_retry(chain_.get()) != 0; }

void TlsChannel::Write(std::string_view bytes) {
  if (bytes.empty()) return;
  platform::LimitSocketTo(fd_, std::chrono::steady_clock::now() + writeLimit_);
  // The result is not looked at: a client that went away just misses its reply.
  BIO_write(chain_.get(), bytes.data(), static_cast<int>(bytes.size()));
}

void TlsChannel::Flush() { (void)BIO_flush(chain_.get()); }

std::string TlsChannel::TakeErrorText() {
  std::string text = std::move(extraError_);
  extraError_.clear();
  return text + TakeOpenSslErrors();
}

}  // namespace zivra::server
