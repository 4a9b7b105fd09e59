#include "tests/support/snapshot.h"

#include <cstdio>

#include "tests/support/files.h"

namespace fs = std::filesystem;

namespace zivra::test {
namespace {

std::string Mode(fs::perms p) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(p) & 07777u);
  return buf;
}

}  // namespace

std::string FileEntry(const std::string& bytes, unsigned mode) {
  return "file " + Mode(static_cast<fs::perms>(mode)) + " " + bytes;
}

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snap;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
    const std::string rel = fs::relative(e.path(), folder).string();
    const fs::file_status st = e.symlink_status();
    if (fs::is_symlink(st)) {
      snap[rel] = "link " + fs::read_symlink(e.path()).string();
    } else if (fs::is_directory(st)) {
      snap[rel] = "folder " + Mode(st.permissions());
    } else {
      snap[rel] = "file " + Mode(st.permissions()) + " " + ReadFile(e.path());
    }
  }
  return snap;
}

}  // namespace zivra::test
