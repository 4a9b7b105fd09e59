// The version file readings: the published text, the installed text, version numbers and the
// archive path check, with texts taken from the fuzz input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zivra::PublishedSource source = [&] { return text; };

  const std::string published = zivra::GetPublishedVersion(source);
  if (published.size() > 4 || text.compare(0, published.size(), published) != 0) std::abort();
  const std::string archive = zivra::GetArchiveName(source);
  if (archive != (text.size() > 6 ? text.substr(6) : std::string())) std::abort();

  if (const auto v = zivra::ParseVersion(text)) {
    if (std::to_string(*v).empty()) std::abort();
  }
  (void)zivra::InstalledVersionText(text);

  if (zivra::IsSafeArchivePath(archive)) {
    // What passes may be appended to the base URL as it is.
    for (unsigned char c : archive) {
      if (c <= 0x20 || c >= 0x7F || c == '\\') std::abort();
    }
    if (archive.empty() || archive[0] == '/' || archive.find("..") != std::string::npos ||
        archive.find(':') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
