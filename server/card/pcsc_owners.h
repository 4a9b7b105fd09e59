#pragma once
#include <utility>

#include "server/card/pcsc.h"

namespace zivra::card {

// Owns one service context and releases it when it goes.
class PcscContext {
 public:
  PcscContext(PcscApi& api, ContextHandle handle) : api_(&api), handle_(handle), held_(true) {}
  PcscContext(PcscContext&& other) noexcept
      : api_(other.api_), handle_(other.handle_), held_(std::exchange(other.held_, false)) {}
  PcscContext& operator=(PcscContext&& other) noexcept {
    if (this != &other) {
      Release();
      api_ = other.api_;
      handle_ = other.handle_;
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  PcscContext(const PcscContext&) = delete;
  PcscContext& operator=(const PcscContext&) = delete;
  ~PcscContext() { Release(); }

  ContextHandle Handle() const { return handle_; }
  // Releases the context now; success when none is held any more.
  PcscCode Release() {
    if (!std::exchange(held_, false)) return kPcscSuccess;
    return api_->ReleaseContext(handle_);
  }

 private:
  PcscApi* api_;
  ContextHandle handle_;
  bool held_;
};

// Owns one connection to a card; disconnects (powering the card down) when it goes.
class CardConnection {
 public:
  CardConnection(PcscApi& api, CardHandle handle, std::uint32_t protocol)
      : api_(&api), handle_(handle), protocol_(protocol), held_(true) {}
  CardConnection(CardConnection&& other) noexcept
      : api_(other.api_), handle_(other.handle_), protocol_(other.protocol_),
        held_(std::exchange(other.held_, false)) {}
  CardConnection& operator=(CardConnection&& other) noexcept {
    if (this != &other) {
      Disconnect();
      api_ = other.api_;
      handle_ = other.handle_;
      protocol_ = other.protocol_;
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  CardConnection(const CardConnection&) = delete;
  CardConnection& operator=(const CardConnection&) = delete;
  ~CardConnection() { Disconnect(); }

  CardHandle Handle() const { return handle_; }
  std::uint32_t ActiveProtocol() const { return protocol_; }
  // Disconnects now; success when no connection is held any more.
  PcscCode Disconnect() {
    if (!std::exchange(held_, false)) return kPcscSuccess;
    return api_->Disconnect(handle_);
  }

 private:
  PcscApi* api_;
  CardHandle handle_;
  std::uint32_t protocol_;
  bool held_;
};

}  // namespace zivra::card
