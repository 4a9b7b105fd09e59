#include "tests/support/update_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zivra::test {
namespace {

constexpr std::string_view kNotFoundPage = "<html><body><h1>404 Not Found</h1></body></html>\r\n";

SSL_CTX* Ctx(void* p) { return static_cast<SSL_CTX*>(p); }

}  // namespace

bool UpdateHostConfigured() { return ZIVRA_TEST_UPDATE_HOST != 0; }

std::string UpdateHostBaseUrl() { return std::string("https://") + ZIVRA_TEST_UPDATE_ADDRESS + "/zivra_reader/"; }

UpdateHost::UpdateHost()
    : UpdateHost(std::string(ZIVRA_TEST_UPDATE_DIR) + "/host.crt", std::string(ZIVRA_TEST_UPDATE_DIR) + "/host.key") {}

UpdateHost::UpdateHost(const std::string& certFile, const std::string& keyFile) {
  const std::string address = ZIVRA_TEST_UPDATE_ADDRESS;
  const auto colon = address.rfind(':');
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
  if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1) {
    throw std::runtime_error("bad update host address " + address);
  }
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  ctx_ = ctx;
  if (ctx == nullptr || SSL_CTX_use_certificate_file(ctx, certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("cannot load the update host's certificate " + certFile);
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 8) != 0) {
    throw std::runtime_error("cannot listen on " + address);
  }
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  thread_ = std::thread([this] { Loop(); });
}

UpdateHost::~UpdateHost() {
  if (thread_.joinable()) {
    [[maybe_unused]] const ssize_t w = ::write(stopPipe_[1], "x", 1);
    thread_.join();
  }
  for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) ::close(fd);
  }
  SSL_CTX_free(Ctx(ctx_));
}

void UpdateHost::Serve(const std::string& path, std::string body) {
  std::lock_guard lock(mutex_);
  const std::size_t size = body.size();
  resources_[path] = Resource{std::move(body), size};
}

void UpdateHost::ServeCut(const std::string& path, std::string body, std::size_t sentBytes) {
  std::lock_guard lock(mutex_);
  resources_[path] = Resource{std::move(body), sentBytes};
}

std::vector<std::string> UpdateHost::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void UpdateHost::Loop() {
  while (true) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    Answer(fd);
    ::close(fd);
  }
}

void UpdateHost::Answer(int fd) {
  SSL* ssl = SSL_new(Ctx(ctx_));
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) != 1) {
    ERR_clear_error();
    SSL_free(ssl);
    return;
  }
  std::string head;
  char buf[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
    const int n = SSL_read(ssl, buf, sizeof buf);
    if (n <= 0) break;
    head.append(buf, static_cast<std::size_t>(n));
  }
  // "GET /path HTTP/1.1"
  const auto sp1 = head.find(' ');
  const auto sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
  const std::string path = sp2 == std::string::npos ? "" : head.substr(sp1 + 1, sp2 - sp1 - 1);
  Resource resource;
  bool found = false;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(path);
    if (const auto it = resources_.find(path); it != resources_.end()) {
      resource = it->second;
      found = true;
    }
  }
  std::string reply;
  bool cut = false;
  if (found) {
    reply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
            std::to_string(resource.body.size()) + "\r\nConnection: close\r\n\r\n";
    cut = resource.sentBytes < resource.body.size();
    reply += resource.body.substr(0, resource.sentBytes);
  } else {
    reply = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
            std::to_string(kNotFoundPage.size()) + "\r\nConnection: close\r\n\r\n" + std::string(kNotFoundPage);
  }
  for (std::size_t off = 0; off < reply.size();) {
    const int n = SSL_write(ssl, reply.data() + off, static_cast<int>(std::min<std::size_t>(reply.size() - off, 16384)));
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
  // A cut reply ends without a TLS close: the connection just drops, as when a host goes away.
  if (!cut) SSL_shutdown(ssl);
  ERR_clear_error();
  SSL_free(ssl);
}

}  // namespace zivra::test
