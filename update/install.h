#pragma once
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zivra::update {

// The file operations that put a release into place; tests replace them to make one fail.
class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual std::error_code Rename(const std::filesystem::path& from, const std::filesystem::path& to);
  virtual std::error_code CreateDirectory(const std::filesystem::path& dir);
};

// Moves files into and out of the installation folder and remembers every step, so that a
// failure part-way can put everything back as it was. Files that leave the folder are moved
// into `backupDir` (inside the same folder, so every move is a rename on one file system), each
// under its own name, so that a program still running from one keeps its executable's name.
class Installer {
 public:
  Installer(std::filesystem::path folder, std::filesystem::path backupDir, FileOps& ops);
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // Moves `name` (relative to the folder) out of the folder, if it is there.
  bool Remove(const std::filesystem::path& name);
  // Moves everything below `staged` into the folder: folders are merged, files and anything in
  // the way of a folder are replaced.
  bool Merge(const std::filesystem::path& staged);
  // Undoes every step so far, last first. True when all of them were undone.
  bool RollBack();

  const std::string& Error() const { return error_; }

 private:
  struct Step {
    enum Kind { kMovedAside, kPlaced } kind;
    std::filesystem::path installed;  // the path in the folder
    std::filesystem::path elsewhere;  // where it came from (kPlaced) or went to (kMovedAside)
  };
  bool MoveAside(const std::filesystem::path& installed);
  bool Place(const std::filesystem::path& from, const std::filesystem::path& to);
  bool MergeInto(const std::filesystem::path& from, const std::filesystem::path& to);
  bool Fail(const std::string& what, const std::filesystem::path& path, std::error_code ec);

  std::filesystem::path folder_;
  std::filesystem::path backupDir_;
  FileOps& ops_;
  std::vector<Step> steps_;
  std::size_t backups_ = 0;
  std::string error_;
};

}  // namespace zivra::update
