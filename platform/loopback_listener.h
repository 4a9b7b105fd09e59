#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zivra::platform {

// Bounds every later receive and send on the socket `fd` so that none waits past the deadline.
// Returns false when the deadline has already passed.
bool LimitSocketTo(int fd, std::chrono::steady_clock::time_point deadline);

// An open stream socket; closed by the destructor.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();

 private:
  int fd_ = -1;
};

enum class ListenResult { Listening, PortInUse, Failed };

// Listens on 127.0.0.1 and ::1 (when the system has IPv6) and hands out accepted connections in
// the order in which they become readable, so that a client that connected but sent nothing does
// not stall one that sent its request. Idle connections are dropped after `idleLimit`.
class LoopbackListener {
 public:
  struct Limits {
    std::chrono::milliseconds idleLimit{10000};
    std::size_t maxPending = 64;
  };

  LoopbackListener() = default;
  explicit LoopbackListener(Limits limits) : limits_(limits) {}
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  ListenResult Listen(std::uint16_t port);

  // A human-readable reason for the last failure of Listen, naming the address and the error.
  const std::string& LastError() const { return lastError_; }

  // Waits for the next connection that has data to read; an invalid Socket when waiting failed.
  Socket NextReadyConnection();

  void Close();

 private:
  struct Pending {
    Socket socket;
    std::chrono::steady_clock::time_point since;
  };
  void AcceptAll(int listenFd);
  void DropIdle(std::chrono::steady_clock::time_point now);

  Limits limits_;
  std::vector<Socket> listeners_;
  std::vector<Pending> pending_;
  std::string lastError_;
};

}  // namespace zivra::platform
