#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace zivra::test {

// One entry of a zip archive made by a test. The name is stored as given, so tests can make
// archives that no careful tool would ("../x", "/tmp/x").
struct ZipEntry {
  enum Kind { kFile, kFolder, kSymlink };
  std::string name;
  std::string data;  // a file's bytes, or a link's target
  Kind kind = kFile;
  unsigned mode = 0644;
};

// The bytes of a zip archive holding `entries`, in order, stored without compression (written
// with libarchive).
std::string MakeZip(const std::vector<ZipEntry>& entries);

}  // namespace zivra::test
