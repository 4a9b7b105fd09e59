#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zivra::card {

// The outcome of one command: 0 success, 1 success with more data pending (91 AF), 100 length
// error (91 7E), 0xXXYY a status word that is not a success, anything else a service code.
using CardResult = std::uint32_t;
inline constexpr CardResult kCardOk = 0;
inline constexpr CardResult kMoreData = 1;
inline constexpr CardResult kLengthError = 100;
// The answer has not the form the command needs: fewer than two bytes, or too few data bytes.
inline constexpr CardResult kMalformedAnswer = 0x6F00;

enum class Protocol { T0, T1 };

// A command as the card access builds it; Lc is the size of `data`.
struct CommandApdu {
  std::uint8_t cla = 0;
  std::uint8_t ins = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  std::vector<std::uint8_t> data;
  std::uint8_t le = 0;
  bool operator==(const CommandApdu&) const = default;
};

// The bytes sent for `command` on a connection with `protocol`. T=1: the header, Lc and data
// when there are data, then Le (class 0x90 always carries Lc, data and a 00 Le). T=0: the
// header, Lc and data when there are data, never an Le byte; the answer then comes through
// GET RESPONSE.
std::vector<std::uint8_t> FrameCommand(const CommandApdu& command, Protocol protocol);

// How an answer (data bytes and the status word SW1 SW2 at its end) is judged.
struct AnswerVerdict {
  bool getResponse = false;  // a bare 61xx or 6Cxx: fetch the answer with GET RESPONSE
  CardResult result = kCardOk;
  bool keepData = false;     // the bytes before the status word are the command's data
  bool operator==(const AnswerVerdict&) const = default;
};
// `firstAnswer`: whether a bare 61xx / 6Cxx may still lead to GET RESPONSE (the answer to
// GET RESPONSE itself may not: it is then a failed status word).
AnswerVerdict JudgeAnswer(std::span<const std::uint8_t> answer, bool firstAnswer);

// The five bytes of GET RESPONSE after a bare 61xx / 6Cxx answer, the same on both protocols:
// 00 C0 00 00 Le', where Le' is SW2, or the command's own Le when that is not 0 and smaller.
std::array<std::uint8_t, 5> GetResponseFor(std::uint8_t sw2, std::uint8_t commandLe);

}  // namespace zivra::card
