#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zivra::cardsim {

using Bytes = std::vector<std::uint8_t>;

// What sits on the virtual reader.
struct CardConfig {
  enum class Reader { Direct, Applet };      // passes class 0x90 / answers it 6E 00 and relays through "DesfireApplet"
  enum class Kind { System, Family, Foreign };  // with the system's application / a DESFire without it / another card
  Reader reader = Reader::Direct;
  Kind kind = Kind::System;
  Bytes number{0x04, 0x5A, 0x31, 0xC2, 0x7E, 0x19, 0x80, 0x01};
  bool failRead = false;  // reading data file 3 is refused
  bool t0 = false;        // the ATR offers T=0 only (else T=1)
};

// The card side of the commands of the card access, with T=0 GET RESPONSE.
class VirtualCard {
 public:
  explicit VirtualCard(CardConfig config) : config_(std::move(config)) {}

  Bytes Atr() const;
  // Power on, power off and reset all leave the card with nothing selected.
  void Reset();
  Bytes Answer(const Bytes& command);

 private:
  struct Native {
    std::uint8_t status;
    Bytes data;
  };
  Bytes Dispatch(const Bytes& command);
  Native RunNative(std::uint8_t code, const Bytes& args);

  CardConfig config_;
  bool applicationSelected_ = false;
  Bytes pending_;  // T=0: the answer waiting for GET RESPONSE (data and status word)
};

}  // namespace zivra::cardsim
