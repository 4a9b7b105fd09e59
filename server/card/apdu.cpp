#include "server/card/apdu.h"

namespace zivra::card {

std::vector<std::uint8_t> FrameCommand(const CommandApdu& command, Protocol protocol) {
  std::vector<std::uint8_t> bytes{command.cla, command.ins, command.p1, command.p2};
  // Commands carry at most a short Lc; the card access never builds longer ones.
  const auto lc = static_cast<std::uint8_t>(command.data.size());
  const bool nativeWrapped = command.cla == 0x90;
  if (!command.data.empty() || (nativeWrapped && protocol == Protocol::T1)) {
    bytes.push_back(lc);
    bytes.insert(bytes.end(), command.data.begin(), command.data.begin() + lc);
  }
  if (protocol == Protocol::T1) bytes.push_back(nativeWrapped ? std::uint8_t{0} : command.le);
  return bytes;
}

AnswerVerdict JudgeAnswer(std::span<const std::uint8_t> answer, bool firstAnswer) {
  const std::size_t n = answer.size();
  if (n < 2) return {false, kMalformedAnswer, false};
  const std::uint8_t sw1 = answer[n - 2];
  const std::uint8_t sw2 = answer[n - 1];
  const CardResult statusWord = static_cast<CardResult>(sw1 << 8 | sw2);
  if (n == 2) {
    if (sw1 == 0x61 || sw1 == 0x6C) return firstAnswer ? AnswerVerdict{true, kCardOk, false}
                                                       : AnswerVerdict{false, statusWord, false};
    if (sw1 == 0x91) return {false, sw2 == 0x7E ? kLengthError : kCardOk, false};
    if (sw1 == 0x90) return {false, kCardOk, false};
    return {false, statusWord, false};
  }
  if (sw1 == 0x91) {
    if (sw2 == 0x00) return {false, kCardOk, true};
    if (sw2 == 0x7E) return {false, kLengthError, false};
    if (sw2 == 0xAF) return {false, kMoreData, true};
    return {false, kCardOk, false};
  }
  if (sw1 == 0x90 && sw2 == 0x00) return {false, kCardOk, true};
  return {false, statusWord, true};
}

std::array<std::uint8_t, 5> GetResponseFor(std::uint8_t sw2, std::uint8_t commandLe) {
  const std::uint8_t le = commandLe != 0 && commandLe < sw2 ? commandLe : sw2;
  return {0x00, 0xC0, 0x00, 0x00, le};
}

}  // namespace zivra::card
