#pragma once
#include <deque>
#include <string>
#include <vector>

#include "server/channel.h"

namespace zivra::test {

// An in-memory client: hands out the scripted pieces one read each (a piece longer than the
// read size is split), then reports the peer's close. Records every write and flush.
class MemoryChannel final : public server::Channel {
 public:
  explicit MemoryChannel(std::vector<std::string> pieces, bool failAtEnd = false)
      : pieces_(pieces.begin(), pieces.end()), failAtEnd_(failAtEnd) {}

  int Read(char* buffer, int size) override {
    ++reads;
    if (pieces_.empty()) return failAtEnd_ ? -1 : 0;
    std::string& front = pieces_.front();
    const std::size_t n = std::min(front.size(), static_cast<std::size_t>(size));
    front.copy(buffer, n);
    front.erase(0, n);
    if (front.empty()) pieces_.pop_front();
    return static_cast<int>(n);
  }
  bool ShouldRetry() const override { return false; }
  void Write(std::string_view bytes) override { writes.emplace_back(bytes); }
  void Flush() override { writes.emplace_back("<flush>"); }
  std::string TakeErrorText() override { return "library error text"; }

  std::string Written() const {
    std::string all;
    for (const auto& w : writes)
      if (w != "<flush>") all += w;
    return all;
  }

  std::vector<std::string> writes;
  int reads = 0;

 private:
  std::deque<std::string> pieces_;
  bool failAtEnd_;
};

}  // namespace zivra::test
