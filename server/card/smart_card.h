#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "server/card/apdu.h"
#include "server/card/pcsc.h"
#include "server/card/pcsc_owners.h"

namespace zivra::card {

// Result codes of ConnectCard.
inline constexpr int kConnected = 0;
inline constexpr int kNoCardConnected = 0x1002;  // no reader held a card that could be connected
inline constexpr int kNoContext = 0x1014;
inline constexpr int kNoReaderList = 0x1015;
inline constexpr int kEmptyReaderList = 0x1016;
inline constexpr int kNoCardPassedProbe = 0x1017;

// Result codes of ReleaseCard.
inline constexpr int kReleased = 0x9000;
inline constexpr int kDisconnectFailed = 0x1101;
inline constexpr int kFreeListFailed = 0x1102;
inline constexpr int kReleaseContextFailed = 0x1103;

// ReadCardIDViaApplet's failure.
inline constexpr int kAppletReadFailed = 10;

using CardNumber = std::array<std::uint8_t, 8>;

// The native select command of the system's card application (0x168711).
inline constexpr std::array<std::uint8_t, 4> kNativeSelect{0x5A, 0x11, 0x87, 0x16};

// Writes two upper-case hexadecimal digits per byte, high nibble first, no terminator.
int BytesToHex(const std::uint8_t* bytes, char* out, std::size_t count);

// One connection to the smart-card service and, while a number is read, to one card: finds a
// reader whose card belongs to the system, reads the card number, and lets everything go again.
// Not for concurrent use.
class SmartCard {
 public:
  explicit SmartCard(PcscApi& pcsc = SystemPcsc(), LogWriter log = {});
  SmartCard(const SmartCard&) = delete;
  SmartCard& operator=(const SmartCard&) = delete;
  ~SmartCard();

  // One whole read: sixteen hexadecimal digits or an "Err:" text. `logFlag` 1 adds the
  // "zIvraSN" lines and the reading commands' failure lines to the debug log.
  std::wstring GetCardID(int logFlag);

  int ConnectCard(int logFlag);
  int ReleaseCard();

  struct Answer {
    CardResult result = kCardOk;
    std::vector<std::uint8_t> data;  // at most the command's answer capacity
  };
  // Frames and sends one command and judges the answer; the answer's data bytes are kept up to
  // `capacity` (the size of the command's answer buffer), never more.
  Answer SendAPDU(const CommandApdu& command, std::size_t capacity);

  CardResult SelectDESFire(int logFlag);
  CardResult SelectApplet(int logFlag);
  CardResult SelectDESFireViaApplet(std::span<const std::uint8_t> nativeSelect, int logFlag);
  int ReadCardIDViaApplet(CardNumber& number);
  CardResult ReadCardSNG2(CardNumber& number, int logFlag);

  const std::string& ReaderName() const { return readerName_; }
  bool Released() const { return !context_ && !card_ && readerName_.empty(); }

 private:
  bool ProbeCard(int logFlag);
  // The reading sequence on the accepted card; nullopt when the card turns out wrong.
  std::optional<CardNumber> ReadNumber(int logFlag);
  void CardLog(int logFlag, std::string_view level, std::string_view message) const;

  PcscApi& pcsc_;
  LogWriter log_;
  std::optional<PcscContext> context_;
  std::optional<CardConnection> card_;
  std::uint32_t activeProtocol_ = kProtocolT1;
  std::string readerName_;
};

}  // namespace zivra::card
