#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "server/card_reader.h"
#include "server/channel.h"

namespace zivra::server {

enum class RequestCommand {
  ParameterIncorrect = 0,
  GetCardId = 1,
  Close = 2,
  EnvTestPage = 3,
  GetVersion = 4,
  TestGetCardId = 5,
};

// Written before every reply: grants any web origin access. It ends with the "*", without a line
// end, and pages rely on these exact bytes.
inline constexpr std::string_view kPrelude =
    "HTTP/1.1 200 Connection established\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Headers: *";
static_assert(kPrelude.size() == 100);

inline constexpr std::size_t kEnvPageSize = 30000;
inline constexpr std::size_t kVersionSize = 5;

// The command named by the request's first line that begins with GET, POST or OPTIONS; Close
// when no line does. Throws std::out_of_range when such a line is too short for a comparison.
RequestCommand RecognizeCommand(std::string_view request);

// Reads a file beside the server as text (CR LF read as LF): at most `limit` bytes, cut at the
// first NUL. Empty when the file cannot be read.
std::string ReadTextFile(const std::string& path, std::size_t limit);

class Router {
 public:
  // `folder` holds "EnvTest.html" and "Version.txt"; `card` serves the card commands.
  Router(std::string folder, CardReader& card) : folder_(std::move(folder)), card_(card) {}

  const std::string& Folder() const { return folder_; }

  // Reads one request, writes the prelude and the reply. Returns true for a close request.
  // Throws standard exceptions; the caller drops the connection.
  bool HandleRequest(Channel& channel);

 private:
  std::string folder_;
  CardReader& card_;
};

}  // namespace zivra::server
