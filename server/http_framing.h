#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "server/channel.h"

namespace zivra::server {

inline constexpr int kReadUnit = 1024;
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

// One read of 1 to 1024 bytes; throws std::runtime_error on failure or when the peer closed.
std::string ReadChunk(Channel& channel);

// The request head up to and including its blank line, followed by every body byte read: at
// least "Content-Length" bytes. Throws std::runtime_error when the channel fails, the head grows
// beyond kMaxHeadBytes or the length beyond kMaxBodyBytes; std::invalid_argument or
// std::out_of_range for a "Content-Length" that is not a 32-bit unsigned number.
std::string ReadRequest(Channel& channel);

// The CR LF terminated lines of a NUL-terminated text, without their CR LF; a last piece without
// CR LF is dropped.
std::vector<std::string> HeaderLines(std::string_view text);

// "HTTP/1.1 200 OK", the length and the body; then flushes.
void WriteReply(Channel& channel, std::string_view body);

// Throws std::runtime_error with `message`, "\n" and the channel's queued error text.
[[noreturn]] void RaiseTlsError(Channel& channel, const std::string& message);

}  // namespace zivra::server
