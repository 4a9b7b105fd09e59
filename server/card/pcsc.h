#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zivra::card {

// A result code of the smart-card service (SCARD_*). The values are the same on every platform.
using PcscCode = std::uint32_t;
inline constexpr PcscCode kPcscSuccess = 0;

using ContextHandle = std::uintptr_t;
using CardHandle = std::uintptr_t;

// Protocol numbers as the service reports them for a connection.
inline constexpr std::uint32_t kProtocolT0 = 1;
inline constexpr std::uint32_t kProtocolT1 = 2;

// The calls of the smart-card service that card access makes. The server uses the system's
// service (SystemPcsc); unit tests put a scripted fake in its place.
class PcscApi {
 public:
  virtual ~PcscApi() = default;
  // A context of system scope.
  virtual PcscCode EstablishContext(ContextHandle& context) = 0;
  virtual PcscCode ReleaseContext(ContextHandle context) = 0;
  // All readers as the service lists them: NUL-terminated names one after another, ended by an
  // empty name; the string's size is the length the service reports.
  virtual PcscCode ListReaders(ContextHandle context, std::string& multiString) = 0;
  // Connects in shared mode, offering T=0 and T=1.
  virtual PcscCode Connect(ContextHandle context, const std::string& reader, CardHandle& card,
                           std::uint32_t& activeProtocol) = 0;
  // Disconnects and powers the card down.
  virtual PcscCode Disconnect(CardHandle card) = 0;
  // Sends `command` with the protocol information of `protocol`; the service writes at most
  // answer.size() bytes and reports how many in `received`.
  virtual PcscCode Transmit(CardHandle card, std::uint32_t protocol, std::span<const std::uint8_t> command,
                            std::span<std::uint8_t> answer, std::size_t& received) = 0;
};

// The system's smart-card service (pcsc-lite, or the Windows service with the same API).
PcscApi& SystemPcsc();

// The name of a service code, "SCARD_E_NO_SMARTCARD" say, or "0x........" for codes without one.
std::string PcscCodeName(PcscCode code);

}  // namespace zivra::card
