#pragma once
#include <string>
#include <string_view>

namespace zivra::server {

// A byte channel to one client, with the read semantics of an OpenSSL BIO. The request reader and
// the router use only this, so tests drive them over an in-memory channel.
class Channel {
 public:
  virtual ~Channel() = default;
  // Reads at most `size` bytes: > 0 bytes read; 0 peer closed, unless ShouldRetry(); < 0 failure.
  virtual int Read(char* buffer, int size) = 0;
  virtual bool ShouldRetry() const = 0;
  virtual void Write(std::string_view bytes) = 0;
  virtual void Flush() = 0;
  // The error text the channel's library queued for the last failure (may be empty).
  virtual std::string TakeErrorText() = 0;
};

}  // namespace zivra::server
