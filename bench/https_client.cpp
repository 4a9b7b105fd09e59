#include "bench/https_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zivra::bench {

HttpsClient::HttpsClient(const std::string& caFile) : ctx_(SSL_CTX_new(TLS_client_method()), SSL_CTX_free) {
  if (!ctx_) throw std::runtime_error("SSL_CTX_new failed");
  SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_load_verify_locations(ctx_.get(), caFile.c_str(), nullptr) != 1) {
    throw std::runtime_error("cannot load CA " + caFile);
  }
}

std::string HttpsClient::Request(const std::string& host, std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::string reply;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx_.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str());
    if (SSL_connect(ssl.get()) == 1 &&
        SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) > 0) {
      char buf[4096];
      for (int n; (n = SSL_read(ssl.get(), buf, sizeof buf)) > 0;) reply.append(buf, static_cast<std::size_t>(n));
      SSL_shutdown(ssl.get());
    }
  }
  ::close(fd);
  return reply;
}

}  // namespace zivra::bench
