#include "tools/cardsim/virtual_card.h"

#include <algorithm>
#include <utility>

namespace zivra::cardsim {
namespace {

const Bytes kApplication{0x11, 0x87, 0x16};
const std::string kAppletName = "DesfireApplet";

Bytes Sw(std::uint16_t sw) { return {static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw)}; }

Bytes WithSw(Bytes data, std::uint8_t sw1, std::uint8_t sw2) {
  data.push_back(sw1);
  data.push_back(sw2);
  return data;
}

std::uint32_t Le24(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16);
}

// Native status codes of the card family.
constexpr std::uint8_t kOperationOk = 0x00;
constexpr std::uint8_t kIllegalCommand = 0x1C;
constexpr std::uint8_t kLengthError = 0x7E;
constexpr std::uint8_t kPermissionDenied = 0x9D;
constexpr std::uint8_t kApplicationNotFound = 0xA0;
constexpr std::uint8_t kBoundaryError = 0xBE;
constexpr std::uint8_t kFileNotFound = 0xF0;

}  // namespace

Bytes VirtualCard::Atr() const {
  if (config_.t0) return {0x3B, 0x00};
  return {0x3B, 0x81, 0x80, 0x01, 0x80, 0x80};
}

void VirtualCard::Reset() {
  applicationSelected_ = false;
  pending_.clear();
}

Bytes VirtualCard::Answer(const Bytes& command) {
  if (config_.t0 && command.size() == 5 && command[0] == 0x00 && command[1] == 0xC0) {
    if (pending_.empty()) return Sw(0x6985);
    const std::size_t available = pending_.size() - 2;
    const std::size_t asked = command[4] == 0 ? 256 : command[4];
    if (asked != available) return Sw(static_cast<std::uint16_t>(0x6C00 | (available & 0xFF)));
    return std::exchange(pending_, {});
  }
  pending_.clear();
  Bytes answer = Dispatch(command);
  // On T=0 the data of an answer wait for GET RESPONSE.
  if (config_.t0 && answer.size() > 2) {
    pending_ = answer;
    return Sw(static_cast<std::uint16_t>(0x6100 | ((answer.size() - 2) & 0xFF)));
  }
  return answer;
}

Bytes VirtualCard::Dispatch(const Bytes& command) {
  if (command.size() < 4) return Sw(0x6700);
  const std::uint8_t cla = command[0];
  const std::uint8_t ins = command[1];
  // Every command of the card access carries data; on T=1 it ends with an Le byte, on T=0 it
  // must not (T=0 cannot carry both).
  const bool framed = command.size() >= 5 && command[4] > 0 &&
                      command.size() == 5u + command[4] + (config_.t0 ? 0u : 1u);
  const Bytes data = framed ? Bytes(command.begin() + 5, command.begin() + 5 + command[4]) : Bytes{};
  const bool direct = config_.reader == CardConfig::Reader::Direct;

  if (cla == 0x90) {
    if (!direct || config_.kind == CardConfig::Kind::Foreign) return Sw(0x6E00);
    if (!framed) return WithSw({}, 0x91, kLengthError);
    const Native n = RunNative(ins, data);
    return WithSw(n.data, 0x91, n.status);
  }
  if (cla == 0x00 && ins == 0xA4) {
    if (!framed) return Sw(0x6700);
    if (!direct && command[2] == 0x04 && std::string(data.begin(), data.end()) == kAppletName) return Sw(0x9000);
    return Sw(0x6A82);
  }
  if (cla == 0xF0 && ins == 0xDE && !direct) {
    if (!framed) return Sw(0x6700);
    if (config_.kind == CardConfig::Kind::Foreign) return Sw(0x6F00);
    const Native n = RunNative(data[0], Bytes(data.begin() + 1, data.end()));
    Bytes relayed{n.status};
    relayed.insert(relayed.end(), n.data.begin(), n.data.end());
    return WithSw(relayed, 0x90, 0x00);
  }
  if (cla != 0x00) return Sw(0x6E00);
  return Sw(0x6D00);
}

VirtualCard::Native VirtualCard::RunNative(std::uint8_t code, const Bytes& args) {
  switch (code) {
    case 0x5A:  // select application
      if (args.size() != 3) return {kLengthError, {}};
      applicationSelected_ = args == kApplication && config_.kind == CardConfig::Kind::System;
      if (applicationSelected_ || args == Bytes{0, 0, 0}) return {kOperationOk, {}};
      return {kApplicationNotFound, {}};
    case 0xBD: {  // read data: file, offset, length
      if (args.size() != 7) return {kLengthError, {}};
      if (!applicationSelected_ || args[0] != 0x03) return {kFileNotFound, {}};
      if (config_.failRead) return {kPermissionDenied, {}};
      Bytes file = config_.number;
      for (std::uint8_t i = 0; file.size() < 32; ++i) file.push_back(static_cast<std::uint8_t>(0xA0 + i));
      const std::uint32_t offset = Le24(args, 1);
      std::uint32_t length = Le24(args, 4);
      if (length == 0 && offset <= file.size()) length = static_cast<std::uint32_t>(file.size() - offset);
      if (offset + length > file.size()) return {kBoundaryError, {}};
      return {kOperationOk, Bytes(file.begin() + offset, file.begin() + offset + length)};
    }
    default:
      return {kIllegalCommand, {}};
  }
}

}  // namespace zivra::cardsim
