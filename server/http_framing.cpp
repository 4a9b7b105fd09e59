#include "server/http_framing.h"

#include <cstdint>
#include <stdexcept>

namespace zivra::server {

void RaiseTlsError(Channel& channel, const std::string& message) {
  throw std::runtime_error(message + "\n" + channel.TakeErrorText());
}

std::string ReadChunk(Channel& channel) {
  char buffer[kReadUnit];
  for (;;) {
    const int n = channel.Read(buffer, kReadUnit);
    if (n < 0) RaiseTlsError(channel, "error in BIO_read");
    if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
    if (!channel.ShouldRetry()) RaiseTlsError(channel, "empty BIO_read");
  }
}

std::vector<std::string> HeaderLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
    lines.emplace_back(text.substr(start, end - start));
  }
  return lines;
}

namespace {

// The head is searched as a NUL-terminated text, as the original reader did: a NUL before the
// blank line hides it.
std::size_t FindBlankLine(const std::string& head) {
  return std::string_view(head.c_str()).find("\r\n\r\n");
}

// A "Content-Length" value: leading white space, then an unsigned decimal number read up to the
// first non-digit; 32 bits at most (a negative number is out of range).
std::uint32_t ParseContentLength(const std::string& value) {
  const unsigned long long n = std::stoull(value);  // throws invalid_argument / out_of_range
  if (n > UINT32_MAX) throw std::out_of_range("stoul argument out of range");
  return static_cast<std::uint32_t>(n);
}

}  // namespace

std::string ReadRequest(Channel& channel) {
  std::string headers = ReadChunk(channel);
  std::size_t blank;
  while ((blank = FindBlankLine(headers)) == std::string::npos) {
    if (headers.size() > kMaxHeadBytes) {
      throw std::runtime_error("request head larger than " + std::to_string(kMaxHeadBytes) +
                               " bytes");
    }
    headers += ReadChunk(channel);
  }
  std::string body = headers.substr(blank + 4);
  headers.resize(blank + 2);

  std::uint64_t contentLength = 0;
  for (const std::string& line : HeaderLines(headers)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (line.compare(0, colon, "Content-Length") == 0) {
      contentLength = ParseContentLength(line.substr(colon + 1));
    }
  }
  if (contentLength > kMaxBodyBytes) {
    throw std::runtime_error("Content-Length " + std::to_string(contentLength) + " exceeds " +
                             std::to_string(kMaxBodyBytes) + " bytes");
  }
  while (body.size() < contentLength) body += ReadChunk(channel);
  return headers + "\r\n" + body;
}

void WriteReply(Channel& channel, std::string_view body) {
  const std::string response =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  channel.Write(response);
  channel.Write(body);
  channel.Flush();
}

}  // namespace zivra::server
