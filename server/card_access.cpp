// The server's card access: one SmartCard, read without the "zIvraSN" lines.
#include "server/card_access.h"

#include "server/card/smart_card.h"

namespace zivra::server {
namespace {

class SmartCardReader final : public CardReader {
 public:
  std::string ReadCardNumber() override {
    const std::wstring wide = card_.GetCardID(0);
    // The result texts are ASCII; anything else would become '?'.
    std::string narrow;
    narrow.reserve(wide.size());
    for (const wchar_t c : wide) narrow.push_back(c >= 0 && c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
  }

 private:
  card::SmartCard card_;
};

}  // namespace

std::unique_ptr<CardReader> MakeCardReader() { return std::make_unique<SmartCardReader>(); }

}  // namespace zivra::server
