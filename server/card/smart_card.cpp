#include "server/card/smart_card.h"

#include <algorithm>

#include "resources/texts.h"

namespace zivra::card {
namespace {

constexpr std::string_view kCardModule = "smartCard";
constexpr std::string_view kResultModule = "zIvraSN";

// The service may write this much of an answer.
constexpr std::size_t kAnswerLimit = 256;

constexpr std::string_view kAppletName = "DesfireApplet";
// Native read of data file 3: offset 0, length 8 (three-byte little-endian fields).
constexpr std::array<std::uint8_t, 8> kNativeRead{0xBD, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> s) { return {s.begin(), s.end()}; }

// Names in a reader multi-string, up to its first empty name.
std::vector<std::string> SplitReaders(const std::string& multiString) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < multiString.size()) {
    const std::size_t end = std::min(multiString.find('\0', start), multiString.size());
    if (end == start) break;
    names.push_back(multiString.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

int BytesToHex(const std::uint8_t* bytes, char* out, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return 0;
}

SmartCard::SmartCard(PcscApi& pcsc, LogWriter log) : pcsc_(pcsc), log_(std::move(log)) {}

SmartCard::~SmartCard() { ReleaseCard(); }

void SmartCard::CardLog(int logFlag, std::string_view level, std::string_view message) const {
  if (logFlag == 1) log_.WriteLog(kCardModule, level, message, kDebugLog);
}

int SmartCard::ReleaseCard() {
  int result = kReleased;
  if (card_ && card_->Disconnect() != kPcscSuccess) result = kDisconnectFailed;
  card_.reset();
  // The reader list is copied out of the service's memory as soon as it is listed, so there is
  // nothing left to free here.
  if (context_ && context_->Release() != kPcscSuccess) result = kReleaseContextFailed;
  context_.reset();
  readerName_.clear();
  return result;
}

int SmartCard::ConnectCard(int logFlag) {
  ContextHandle context = 0;
  if (pcsc_.EstablishContext(context) != kPcscSuccess) {
    CardLog(logFlag, "error", "SCardEstablishContext Fail");
    return kNoContext;
  }
  context_.emplace(pcsc_, context);

  std::string multiString;
  if (pcsc_.ListReaders(context, multiString) != kPcscSuccess) {
    CardLog(logFlag, "error", "SCardListReaders Fail");
    ReleaseCard();
    return kNoReaderList;
  }
  if (multiString.size() <= 1) {
    CardLog(logFlag, "operation", "No Read Connect");
    ReleaseCard();
    return kEmptyReaderList;
  }

  bool failedProbe = false;
  for (const std::string& name : SplitReaders(multiString)) {
    card_.reset();  // powers down the card of the previous reader
    CardHandle card = 0;
    std::uint32_t protocol = 0;
    if (pcsc_.Connect(context, name, card, protocol) != kPcscSuccess) continue;
    card_.emplace(pcsc_, card, protocol);
    if (protocol == kProtocolT0 || protocol == kProtocolT1) activeProtocol_ = protocol;
    readerName_ = name;
    if (!ProbeCard(logFlag)) {
      failedProbe = true;
      continue;
    }
    // Start the accepted card afresh: power it down and connect again.
    card_.reset();
    if (pcsc_.Connect(context, readerName_, card, protocol) != kPcscSuccess) {
      ReleaseCard();
      CardLog(logFlag, "operation", "No Card Found");
      return kNoCardConnected;
    }
    card_.emplace(pcsc_, card, protocol);
    if (protocol == kProtocolT0 || protocol == kProtocolT1) activeProtocol_ = protocol;
    return kConnected;
  }

  if (failedProbe) {
    ReleaseCard();
    return kNoCardPassedProbe;
  }
  CardLog(logFlag, "operation", "No Card Found");
  ReleaseCard();
  return kNoCardConnected;
}

bool SmartCard::ProbeCard(int logFlag) {
  if (SelectDESFire(logFlag) == kCardOk) return true;
  return SelectApplet(logFlag) == kCardOk && SelectDESFireViaApplet(kNativeSelect, logFlag) == kCardOk;
}

SmartCard::Answer SmartCard::SendAPDU(const CommandApdu& command, std::size_t capacity) {
  if (!card_) return {kMalformedAnswer, {}};
  const Protocol protocol = activeProtocol_ == kProtocolT0 ? Protocol::T0 : Protocol::T1;
  const std::vector<std::uint8_t> framed = FrameCommand(command, protocol);

  std::array<std::uint8_t, kAnswerLimit> answer{};
  std::size_t received = 0;
  PcscCode rc = pcsc_.Transmit(card_->Handle(), activeProtocol_, framed, answer, received);
  if (rc != kPcscSuccess) return {rc, {}};
  received = std::min(received, answer.size());
  AnswerVerdict verdict = JudgeAnswer(std::span(answer).first(received), true);

  if (verdict.getResponse) {
    const auto getResponse = GetResponseFor(answer[1], command.le);
    answer.fill(0);
    received = 0;
    rc = pcsc_.Transmit(card_->Handle(), activeProtocol_, getResponse, answer, received);
    if (rc != kPcscSuccess) return {rc, {}};
    received = std::min(received, answer.size());
    verdict = JudgeAnswer(std::span(answer).first(received), false);
  }

  Answer result{verdict.result, {}};
  if (verdict.keepData) {
    const std::size_t dataBytes = std::min(received - 2, capacity);
    result.data.assign(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(dataBytes));
  }
  return result;
}

CardResult SmartCard::SelectDESFire(int logFlag) {
  const CommandApdu command{0x90, 0x5A, 0x00, 0x00, {0x11, 0x87, 0x16}, 0x00};
  const CardResult result = SendAPDU(command, 64).result;
  if (result == 0x6E00) CardLog(logFlag, "error", "SelectDESFire Fail--6E00");
  return result;
}

CardResult SmartCard::SelectApplet(int logFlag) {
  const CommandApdu command{0x00, 0xA4, 0x04, 0x00, {kAppletName.begin(), kAppletName.end()}, 0x00};
  const CardResult result = SendAPDU(command, 128).result;
  if (result != kCardOk) CardLog(logFlag, "error", "SelectEF Fail");
  return result;
}

CardResult SmartCard::SelectDESFireViaApplet(std::span<const std::uint8_t> nativeSelect, int logFlag) {
  const CommandApdu command{0xF0, 0xDE, 0x00, 0x00, Bytes(nativeSelect), 0x00};
  const CardResult result = SendAPDU(command, 32).result;
  if (result != kCardOk) CardLog(logFlag, "error", "ReadCardSNG2 Fail");
  return result;
}

int SmartCard::ReadCardIDViaApplet(CardNumber& number) {
  const CommandApdu command{0xF0, 0xDE, 0x00, 0x00, Bytes(kNativeRead), 0x00};
  const Answer answer = SendAPDU(command, 32);
  // Byte 0 is the relayed native status (00: done); the eight number bytes follow it.
  if (answer.result != kCardOk || answer.data.size() < 1 + number.size() || answer.data[0] != 0x00) {
    return kAppletReadFailed;
  }
  std::copy_n(answer.data.begin() + 1, number.size(), number.begin());
  return 0;
}

CardResult SmartCard::ReadCardSNG2(CardNumber& number, int logFlag) {
  const CommandApdu command{0x90, 0xBD, 0x00, 0x00, {kNativeRead.begin() + 1, kNativeRead.end()}, 0x00};
  const Answer answer = SendAPDU(command, 32);
  CardResult result = answer.result;
  if (result == kCardOk && answer.data.size() < number.size()) result = kMalformedAnswer;
  if (result != kCardOk) {
    CardLog(logFlag, "error", "ReadCardSNG2 Fail");
    return result;
  }
  std::copy_n(answer.data.begin(), number.size(), number.begin());
  return kCardOk;
}

std::optional<CardNumber> SmartCard::ReadNumber(int logFlag) {
  CardNumber number{};
  if (SelectDESFire(logFlag) == kCardOk) {
    ReadCardSNG2(number, logFlag);
    return number;
  }
  if (SelectApplet(logFlag) != kCardOk || SelectDESFireViaApplet(kNativeSelect, logFlag) != kCardOk) {
    return std::nullopt;
  }
  ReadCardIDViaApplet(number);
  return number;
}

std::wstring SmartCard::GetCardID(int logFlag) {
  static constexpr std::wstring_view kOpenCardErrReader = L"Err:No Smartcard Reader Found";
  static constexpr std::wstring_view kOpenCardErrReaderDriver = L"Err:No Smartcard Driver Installed";
  static constexpr std::wstring_view kNoCardErr = L"Err:No Card Found";
  static constexpr std::wstring_view kWrongCardErr = L"Err:Wrong Card";
  static constexpr std::wstring_view kWrongCardDataErr = L"Err:Cannot Read Card Data";
  const auto resultLog = [&](std::string_view level, std::string_view message) {
    if (logFlag == 1) log_.WriteLog(kResultModule, level, message, kDebugLog);
  };

  ReleaseCard();
  switch (ConnectCard(1)) {
    case kConnected:
      break;
    case kNoContext:
    case kEmptyReaderList:
      resultLog("error", big5::NoReaderInstalled);
      return std::wstring(kOpenCardErrReaderDriver);
    case kNoReaderList:
      resultLog("error", big5::NoReaderConnected);
      return std::wstring(kOpenCardErrReader);
    case kNoCardPassedProbe:
      resultLog("error", big5::NotSystemCard);
      return std::wstring(kWrongCardErr);
    default:  // kNoCardConnected
      resultLog("error", big5::WrongCardPlaced);
      return std::wstring(kNoCardErr);
  }

  const std::optional<CardNumber> number = ReadNumber(logFlag);
  ReleaseCard();
  if (!number) {
    resultLog("error", big5::CardError);
    return std::wstring(kWrongCardErr);
  }
  std::array<char, 2 * std::tuple_size_v<CardNumber>> digits{};
  BytesToHex(number->data(), digits.data(), number->size());
  if (std::all_of(number->begin(), number->end(), [](std::uint8_t b) { return b == 0; })) {
    resultLog("debug", big5::CardNumberUnreadable);
    return std::wstring(kWrongCardDataErr);
  }
  resultLog("debug", big5::CardNumberRead);
  return std::wstring(digits.begin(), digits.end());
}

}  // namespace zivra::card
