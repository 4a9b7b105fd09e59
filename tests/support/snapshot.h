#pragma once
#include <filesystem>
#include <map>
#include <string>

namespace zivra::test {

// Everything below `folder`: relative path -> "file <mode> <bytes>", "folder <mode>" or
// "link <target>". Two equal snapshots mean byte-identical trees.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::filesystem::path& folder);

// A file's entry in a snapshot, for building the expected one.
std::string FileEntry(const std::string& bytes, unsigned mode = 0644);

}  // namespace zivra::test
