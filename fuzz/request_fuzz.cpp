// The request reader and the router over an in-memory channel: the input is cut into reads of
// sizes taken from its first bytes, as TLS records would arrive.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "server/router.h"
#include <cstdlib>
#include <fstream>

#include "tests/support/memory_channel.h"

namespace {

class FixedCard final : public zivra::server::CardReader {
 public:
  std::string ReadCardNumber() override { return "0011223344556677"; }
};

// A folder with the two files the router serves, made once per run.
const std::string& Folder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/zivra-fuzz-XXXXXX";
    std::string f = std::string(mkdtemp(tmpl)) + "/";
    std::ofstream(f + "Version.txt", std::ios::binary) << "0180";
    std::ofstream(f + "EnvTest.html", std::ios::binary) << "<html>\r\n</html>\r\n";
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t piece = 1 + (data[0] % 64) * 32;  // 1 .. 2017 bytes per read
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < input.size(); at += piece) pieces.push_back(input.substr(at, piece));
  zivra::test::MemoryChannel channel(pieces, (data[0] & 0x80) != 0);
  FixedCard card;
  zivra::server::Router router(Folder(), card);
  try {
    router.HandleRequest(channel);
    // A handled request always starts with the prelude.
    if (channel.Written().compare(0, zivra::server::kPrelude.size(), zivra::server::kPrelude) != 0) __builtin_trap();
  } catch (const std::exception&) {
    // Refused requests raise standard exceptions only; the reply is the prelude at most.
    if (channel.Written().size() > zivra::server::kPrelude.size()) __builtin_trap();
  }
  return 0;
}
