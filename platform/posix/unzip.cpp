#include "platform/unzip.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string_view>

namespace zivra::platform {
namespace {

struct ReadDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};

// Restores the current directory when the extraction ends, however it ends.
class WorkingDirectory {
 public:
  WorkingDirectory() : saved_(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory() {
    if (saved_ >= 0) {
      [[maybe_unused]] const int r = ::fchdir(saved_);
      ::close(saved_);
    }
  }
  bool Saved() const { return saved_ >= 0; }

 private:
  int saved_;
};

// A relative path of plain components: no leading '/', no "." or "..", no backslash.
bool InsideFolder(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  if (path.find('\\') != std::string_view::npos) return false;
  while (!path.empty()) {
    const auto slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (part == "." || part == "..") return false;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return true;
}

std::string ErrorOf(archive* a, const std::string& what) {
  const char* text = archive_error_string(a);
  return what + (text != nullptr ? std::string(": ") + text : std::string());
}

}  // namespace

bool UnpackZip(const std::string& archivePath, const std::string& destination, std::string& error,
               const UnpackLimits& limits) {
  std::unique_ptr<archive, ReadDeleter> in(archive_read_new());
  std::unique_ptr<archive, WriteDeleter> out(archive_write_disk_new());
  if (!in || !out) {
    error = "out of memory";
    return false;
  }
  // The seekable reader works from the central directory at the archive's end: an archive cut
  // short has none and is refused, and the entries' Unix modes come from there.
  archive_read_support_format_zip_seekable(in.get());
  if (archive_read_open_filename(in.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) {
    error = ErrorOf(in.get(), "not a readable zip archive");
    return false;
  }
  archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS |
                                                ARCHIVE_EXTRACT_SECURE_SYMLINKS);

  WorkingDirectory cwd;
  if (!cwd.Saved() || ::chdir(destination.c_str()) != 0) {
    error = "cannot enter " + destination;
    return false;
  }

  std::uint64_t entries = 0;
  std::uint64_t total = 0;
  while (true) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(in.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK) {
      error = ErrorOf(in.get(), "damaged archive");
      return false;
    }
    const char* raw = archive_entry_pathname(entry);
    const std::string name = raw != nullptr ? raw : "";
    std::string_view path = name;
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR && path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    if (!InsideFolder(path)) {
      error = "entry outside the folder: " + name;
      return false;
    }
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(entry) != nullptr ||
        archive_entry_symlink(entry) != nullptr) {
      error = "entry is not a plain file or folder: " + name;
      return false;
    }
    if (++entries > limits.maxEntries) {
      error = "too many entries";
      return false;
    }
    // Plain permissions only; folders stay enterable and files writable for their owner.
    mode_t perm = archive_entry_perm(entry) & 0777;
    perm |= type == AE_IFDIR ? 0700 : 0600;
    archive_entry_set_perm(entry, perm);

    if (archive_write_header(out.get(), entry) != ARCHIVE_OK) {
      error = ErrorOf(out.get(), "cannot write " + name);
      return false;
    }
    while (true) {
      const void* block = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int d = archive_read_data_block(in.get(), &block, &size, &offset);
      if (d == ARCHIVE_EOF) break;
      if (d != ARCHIVE_OK) {
        error = ErrorOf(in.get(), "damaged entry " + name);
        return false;
      }
      total += size;
      if (total > limits.maxTotalBytes) {
        error = "archive too large";
        return false;
      }
      if (archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK) {
        error = ErrorOf(out.get(), "cannot write " + name);
        return false;
      }
    }
    if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) {
      error = ErrorOf(out.get(), "cannot finish " + name);
      return false;
    }
  }
  if (archive_write_close(out.get()) != ARCHIVE_OK) {
    error = ErrorOf(out.get(), "cannot finish the folder");
    return false;
  }
  return true;
}

}  // namespace zivra::platform
