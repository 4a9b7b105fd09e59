#include "tests/support/zip_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <stdexcept>

namespace zivra::test {

std::string MakeZip(const std::vector<ZipEntry>& entries) {
  std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), &archive_write_free);
  archive_write_set_format_zip(a.get());
  // Stored, not deflated: tests find an entry's bytes in the archive to damage them.
  archive_write_set_options(a.get(), "zip:compression=store");
  std::string out;
  const auto write = [](archive*, void* client, const void* buffer, std::size_t length) -> la_ssize_t {
    static_cast<std::string*>(client)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
  };
  // No padding of the last block: the archive's bytes are exactly the zip file.
  archive_write_set_bytes_in_last_block(a.get(), 1);
  if (archive_write_open(a.get(), &out, nullptr, write, nullptr) != ARCHIVE_OK) {
    throw std::runtime_error("cannot start a zip archive");
  }
  for (const ZipEntry& e : entries) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(entry.get(), e.name.c_str());
    archive_entry_set_mtime(entry.get(), 1700000000, 0);
    if (e.kind == ZipEntry::kFolder) {
      archive_entry_set_filetype(entry.get(), AE_IFDIR);
      archive_entry_set_perm(entry.get(), 0755);
    } else if (e.kind == ZipEntry::kSymlink) {
      archive_entry_set_filetype(entry.get(), AE_IFLNK);
      archive_entry_set_perm(entry.get(), 0777);
      archive_entry_set_symlink(entry.get(), e.data.c_str());
    } else {
      archive_entry_set_filetype(entry.get(), AE_IFREG);
      archive_entry_set_perm(entry.get(), e.mode);
      archive_entry_set_size(entry.get(), static_cast<la_int64_t>(e.data.size()));
    }
    if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK) {
      throw std::runtime_error(std::string("cannot add ") + e.name + ": " + archive_error_string(a.get()));
    }
    if (e.kind == ZipEntry::kFile && !e.data.empty() &&
        archive_write_data(a.get(), e.data.data(), e.data.size()) != static_cast<la_ssize_t>(e.data.size())) {
      throw std::runtime_error("cannot write " + e.name);
    }
  }
  if (archive_write_close(a.get()) != ARCHIVE_OK) throw std::runtime_error("cannot finish a zip archive");
  return out;
}

}  // namespace zivra::test
