#include "platform/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zivra::platform {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

Socket::~Socket() {
  if (fd_ >= 0) ::close(fd_);
}

int Socket::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool LimitSocketTo(int fd, std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  const auto left = duration_cast<microseconds>(deadline - steady_clock::now());
  if (left.count() <= 0) return false;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(left.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return true;
}

namespace {

enum class BindResult { Ok, InUse, NoAddress, Failed };

BindResult BindListener(int family, std::uint16_t port, Socket& out, std::string& error) {
  Socket s(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const char* name = family == AF_INET ? "127.0.0.1" : "::1";
  if (!s.Valid()) {
    if (family == AF_INET6 && errno == EAFNOSUPPORT) return BindResult::NoAddress;
    error = std::string("cannot create a socket for ") + name + ": " + std::strerror(errno);
    return BindResult::Failed;
  }
  const int one = 1;
  // Lets a restarted server bind while old connections linger in TIME_WAIT; a second
  // listener on the same port is still refused.
  ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc = 0;
  if (family == AF_INET) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    rc = ::bind(s.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
  } else {
    ::setsockopt(s.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    rc = ::bind(s.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  if (rc != 0) {
    const int err = errno;
    if (family == AF_INET6 && (err == EADDRNOTAVAIL || err == EAFNOSUPPORT)) return BindResult::NoAddress;
    error = std::string("cannot listen on ") + name + " port " + std::to_string(port) + ": " +
            std::strerror(err);
    if (err == EADDRINUSE) {
      error += " (another program, probably a running zivraBrowserServer, holds the port)";
      return BindResult::InUse;
    }
    return BindResult::Failed;
  }
  if (::listen(s.Get(), 64) != 0) {
    error = std::string("cannot listen on ") + name + ": " + std::strerror(errno);
    return errno == EADDRINUSE ? BindResult::InUse : BindResult::Failed;
  }
  out = std::move(s);
  return BindResult::Ok;
}

}  // namespace

ListenResult LoopbackListener::Listen(std::uint16_t port) {
  Close();
  lastError_.clear();
  for (int family : {AF_INET, AF_INET6}) {
    Socket s;
    switch (BindListener(family, port, s, lastError_)) {
      case BindResult::Ok:
        listeners_.push_back(std::move(s));
        break;
      case BindResult::NoAddress:
        break;
      case BindResult::InUse:
        Close();
        return ListenResult::PortInUse;
      case BindResult::Failed:
        Close();
        return ListenResult::Failed;
    }
  }
  return listeners_.empty() ? ListenResult::Failed : ListenResult::Listening;
}

void LoopbackListener::Close() {
  pending_.clear();
  listeners_.clear();
}

void LoopbackListener::AcceptAll(int listenFd) {
  for (;;) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: nothing more queued; other errors: the client is gone
    if (pending_.size() >= limits_.maxPending) pending_.erase(pending_.begin());
    pending_.push_back({Socket(fd), std::chrono::steady_clock::now()});
  }
}

void LoopbackListener::DropIdle(std::chrono::steady_clock::time_point now) {
  std::erase_if(pending_, [&](const Pending& p) { return now - p.since >= limits_.idleLimit; });
}

Socket LoopbackListener::NextReadyConnection() {
  using namespace std::chrono;
  if (listeners_.empty()) return {};
  std::vector<pollfd> fds;
  for (;;) {
    const auto now = steady_clock::now();
    DropIdle(now);
    fds.clear();
    for (const auto& l : listeners_) fds.push_back({l.Get(), POLLIN, 0});
    for (const auto& p : pending_) fds.push_back({p.socket.Get(), POLLIN, 0});
    int timeout = -1;
    if (!pending_.empty()) {
      auto oldest = pending_.front().since;
      for (const auto& p : pending_) oldest = std::min(oldest, p.since);
      const auto left = duration_cast<milliseconds>(oldest + limits_.idleLimit - now).count();
      timeout = static_cast<int>(std::clamp<long long>(left + 1, 1, 60000));
    }
    const int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    // Serve the earliest-accepted connection that has something to read (data, or its close).
    for (std::size_t i = listeners_.size(); i < fds.size(); ++i) {
      if (fds[i].revents != 0) {
        const std::size_t index = i - listeners_.size();
        Socket ready = std::move(pending_[index].socket);
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
        return ready;
      }
    }
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[i].revents & (POLLERR | POLLNVAL)) return {};
      if (fds[i].revents & POLLIN) AcceptAll(listeners_[i].Get());
    }
  }
}

}  // namespace zivra::platform
