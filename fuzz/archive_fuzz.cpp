// Unpacking a zip archive made of fuzz bytes into a scratch folder: whatever the archive holds,
// nothing may land outside the destination folder, and nothing inside it may be a link.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/unzip.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Scratch() {
  static const fs::path dir = [] {
    char tmpl[] = "/tmp/zivra-fuzz-zip-XXXXXX";
    return fs::path(mkdtemp(tmpl));
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path archive = Scratch() / "archive.zip";
  const fs::path destination = Scratch() / "dest";
  fs::remove_all(destination);
  fs::create_directory(destination);
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::string error;
  const bool ok = zivra::platform::UnpackZip(archive.string(), destination.string(), error,
                                             {100, std::uint64_t{8} << 20});
  if (!ok && error.empty()) std::abort();  // a failure always says why
  // The scratch folder holds the archive and the destination, nothing else.
  for (const auto& e : fs::directory_iterator(Scratch())) {
    if (e.path() != archive && e.path() != destination) std::abort();
  }
  for (const auto& e : fs::recursive_directory_iterator(destination)) {
    if (e.is_symlink()) std::abort();
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID))) std::abort();
  }
  return 0;
}
