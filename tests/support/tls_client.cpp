#include "tests/support/tls_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace zivra::test {
namespace {

int ConnectTcp(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(list);
  return fd;
}

void SetTimeouts(int fd, std::chrono::milliseconds t) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(t.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

std::string OpenSslErrors() {
  std::string text;
  for (unsigned long e; (e = ERR_get_error()) != 0;) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    text += buf;
    text += '\n';
  }
  return text;
}

}  // namespace

TlsResult HttpsExchange(const std::string& host, std::uint16_t port, const std::string& request,
                        const std::string& caFile, std::chrono::milliseconds timeout,
                        std::size_t pieceSize) {
  TlsResult result;
  const int fd = ConnectTcp(host, port);
  if (fd < 0) {
    result.error = "connect failed: " + std::string(std::strerror(errno));
    return result;
  }
  result.connected = true;
  SetTimeouts(fd, timeout);
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
  SSL_set_fd(ssl.get(), fd);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
  if (host == "localhost") {
    SSL_set_tlsext_host_name(ssl.get(), host.c_str());
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  } else {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  }
  if (SSL_connect(ssl.get()) != 1) {
    result.error = "handshake failed: " + OpenSslErrors();
    ::close(fd);
    return result;
  }
  result.handshake = true;
  std::size_t sent = 0;
  const std::size_t step = pieceSize == 0 ? request.size() : pieceSize;
  while (sent < request.size()) {
    const std::size_t n = std::min(step, request.size() - sent);
    if (SSL_write(ssl.get(), request.data() + sent, static_cast<int>(n)) <= 0) break;
    sent += n;
  }
  const auto end = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  while (std::chrono::steady_clock::now() < end) {
    const int n = SSL_read(ssl.get(), buf, sizeof buf);
    if (n <= 0) break;
    result.reply.append(buf, static_cast<std::size_t>(n));
  }
  SSL_shutdown(ssl.get());
  ::close(fd);
  return result;
}

TcpClient::TcpClient(const std::string& host, std::uint16_t port) : fd_(ConnectTcp(host, port)) {}

TcpClient::~TcpClient() {
  if (fd_ >= 0) ::close(fd_);
}

void TcpClient::Send(const std::string& bytes) {
  if (fd_ >= 0) (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string TcpClient::ReadAll(std::chrono::milliseconds timeout) {
  std::string all;
  if (fd_ < 0) return all;
  const auto end = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
  }
  return all;
}

bool CanConnect(const std::string& host, std::uint16_t port) {
  const int fd = ConnectTcp(host, port);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace zivra::test
