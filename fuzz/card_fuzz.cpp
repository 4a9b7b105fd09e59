// The card access against a smart-card service whose readers and card answers come from the fuzz
// input: whatever the card sends, the result is sixteen hexadecimal digits or an "Err:" text,
// nothing is written past an answer buffer, and everything is released afterwards.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/log_writer.h"
#include "server/card/smart_card.h"

namespace {

using namespace zivra::card;

class FuzzPcsc final : public PcscApi {
 public:
  FuzzPcsc(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  PcscCode EstablishContext(ContextHandle& context) override {
    context = 1;
    return Byte() == 0xFF ? 0x8010001Du : kPcscSuccess;  // now and then: no service
  }
  PcscCode ReleaseContext(ContextHandle) override { return kPcscSuccess; }
  PcscCode ListReaders(ContextHandle, std::string& multiString) override {
    const int readers = Byte() % 4;
    if (readers == 0) return 0x8010002Eu;  // SCARD_E_NO_READERS_AVAILABLE
    multiString.clear();
    for (int i = 0; i < readers; ++i) multiString += "Reader " + std::to_string(i) + '\0';
    multiString += '\0';
    return kPcscSuccess;
  }
  PcscCode Connect(ContextHandle, const std::string&, CardHandle& card, std::uint32_t& protocol) override {
    const std::uint8_t b = Byte();
    if (b % 5 == 0) return 0x8010000Cu;  // SCARD_E_NO_SMARTCARD
    card = 7;
    protocol = (b & 1) ? kProtocolT1 : kProtocolT0;
    return kPcscSuccess;
  }
  PcscCode Disconnect(CardHandle) override { return kPcscSuccess; }
  PcscCode Transmit(CardHandle, std::uint32_t, std::span<const std::uint8_t> command, std::span<std::uint8_t> answer,
                    std::size_t& received) override {
    if (command.empty()) std::abort();
    const std::size_t want = Byte();
    if (want == 0xFF) return 0x80100069u;  // SCARD_W_REMOVED_CARD
    // The service never writes more than the buffer holds; the card may send anything up to that.
    received = std::min({want, answer.size(), size_ - std::min<std::size_t>(pos_, size_)});
    if (received > 0) std::memcpy(answer.data(), data_ + pos_, received);
    pos_ += received;
    return kPcscSuccess;
  }

 private:
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

const std::string& LogFolder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/zivra-fuzz-card-XXXXXX";
    return std::string(mkdtemp(tmpl)) + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPcsc pcsc(data, size);
  SmartCard card(pcsc, zivra::LogWriter(LogFolder()));
  const std::wstring result = card.GetCardID(size > 0 && (data[0] & 1));
  bool hex = result.size() == 16;
  for (wchar_t c : result) hex = hex && ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'));
  if (!hex && result.rfind(L"Err:", 0) != 0) std::abort();
  if (!card.Released()) std::abort();
  // Keep the scratch logs small.
  std::remove((LogFolder() + "zivraDebug.txt").c_str());
  std::remove((LogFolder() + "SysLog.txt").c_str());
  return 0;
}
