// The smart-card service through pcsc-lite (the same API as the Windows service). Reader names
// are narrow UTF-8 strings here.
#include <winscard.h>

#include "server/card/pcsc.h"

namespace zivra::card {
namespace {

PcscCode Code(LONG rv) { return static_cast<PcscCode>(rv); }
SCARDCONTEXT Context(ContextHandle h) { return static_cast<SCARDCONTEXT>(h); }
SCARDHANDLE Card(CardHandle h) { return static_cast<SCARDHANDLE>(h); }

class SystemService final : public PcscApi {
 public:
  PcscCode EstablishContext(ContextHandle& context) override {
    SCARDCONTEXT h = 0;
    const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &h);
    context = static_cast<ContextHandle>(h);
    return Code(rv);
  }

  PcscCode ReleaseContext(ContextHandle context) override { return Code(SCardReleaseContext(Context(context))); }

  PcscCode ListReaders(ContextHandle context, std::string& multiString) override {
    multiString.clear();
    LPSTR list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG rv = SCardListReaders(Context(context), nullptr, reinterpret_cast<LPSTR>(&list), &length);
    if (rv != SCARD_S_SUCCESS) return Code(rv);
    if (list != nullptr) {
      multiString.assign(list, length);
      SCardFreeMemory(Context(context), list);
    }
    return kPcscSuccess;
  }

  PcscCode Connect(ContextHandle context, const std::string& reader, CardHandle& card,
                   std::uint32_t& activeProtocol) override {
    SCARDHANDLE h = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(Context(context), reader.c_str(), SCARD_SHARE_SHARED,
                                 SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &h, &protocol);
    card = static_cast<CardHandle>(h);
    activeProtocol = static_cast<std::uint32_t>(protocol);
    return Code(rv);
  }

  PcscCode Disconnect(CardHandle card) override { return Code(SCardDisconnect(Card(card), SCARD_UNPOWER_CARD)); }

  PcscCode Transmit(CardHandle card, std::uint32_t protocol, std::span<const std::uint8_t> command,
                    std::span<std::uint8_t> answer, std::size_t& received) override {
    received = 0;
    const SCARD_IO_REQUEST* pci = protocol == kProtocolT0   ? SCARD_PCI_T0
                                  : protocol == kProtocolT1 ? SCARD_PCI_T1
                                                            : nullptr;
    if (pci == nullptr) return Code(SCARD_E_PROTO_MISMATCH);
    DWORD length = static_cast<DWORD>(answer.size());
    const LONG rv = SCardTransmit(Card(card), pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                                  answer.data(), &length);
    if (rv == SCARD_S_SUCCESS) received = length < answer.size() ? length : answer.size();
    return Code(rv);
  }
};

}  // namespace

PcscApi& SystemPcsc() {
  static SystemService service;
  return service;
}

}  // namespace zivra::card
