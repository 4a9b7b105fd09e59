#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zivra::test {

struct TlsResult {
  bool connected = false;   // TCP connection made
  bool handshake = false;   // TLS handshake done and the certificate verified
  std::string error;
  std::string reply;        // everything the server sent until it closed
};

// Connects to host:port ("127.0.0.1", "::1" or "localhost"), verifies the server against `caFile`
// for `host`, sends `request` (in pieces of `pieceSize` bytes when given) and reads until the
// server closes or `timeout` passes.
TlsResult HttpsExchange(const std::string& host, std::uint16_t port, const std::string& request,
                        const std::string& caFile,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10),
                        std::size_t pieceSize = 0);

// A plain TCP connection that stays open until the object dies; for idle and plain-text clients.
class TcpClient {
 public:
  TcpClient(const std::string& host, std::uint16_t port);
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;
  ~TcpClient();
  bool Connected() const { return fd_ >= 0; }
  void Send(const std::string& bytes);
  // Reads until the peer closes or the time is up.
  std::string ReadAll(std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

// True when a TCP connection to host:port is accepted.
bool CanConnect(const std::string& host, std::uint16_t port);

}  // namespace zivra::test
