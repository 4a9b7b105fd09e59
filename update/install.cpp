#include "update/install.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace zivra::update {

std::error_code FileOps::Rename(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  return ec;
}

std::error_code FileOps::CreateDirectory(const fs::path& dir) {
  std::error_code ec;
  if (!fs::create_directory(dir, ec) && !ec) ec = std::make_error_code(std::errc::file_exists);
  return ec;
}

Installer::Installer(fs::path folder, fs::path backupDir, FileOps& ops)
    : folder_(std::move(folder)), backupDir_(std::move(backupDir)), ops_(ops) {}

bool Installer::Fail(const std::string& what, const fs::path& path, std::error_code ec) {
  error_ = what + " " + path.string() + ": " + ec.message();
  return false;
}

bool Installer::MoveAside(const fs::path& installed) {
  const fs::path slot = backupDir_ / std::to_string(backups_++);
  if (std::error_code ec = ops_.CreateDirectory(slot)) return Fail("cannot make", slot, ec);
  const fs::path aside = slot / installed.filename();
  if (std::error_code ec = ops_.Rename(installed, aside)) return Fail("cannot move away", installed, ec);
  steps_.push_back({Step::kMovedAside, installed, aside});
  return true;
}

bool Installer::Place(const fs::path& from, const fs::path& to) {
  if (std::error_code ec = ops_.Rename(from, to)) return Fail("cannot put in place", to, ec);
  steps_.push_back({Step::kPlaced, to, from});
  return true;
}

bool Installer::Remove(const fs::path& name) {
  const fs::path installed = folder_ / name;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(installed, ec))) return true;
  return MoveAside(installed);
}

bool Installer::MergeInto(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  std::vector<fs::path> names;
  for (const fs::directory_entry& e : fs::directory_iterator(from, ec)) names.push_back(e.path().filename());
  if (ec) return Fail("cannot read", from, ec);
  std::sort(names.begin(), names.end());
  for (const fs::path& name : names) {
    const fs::path source = from / name;
    const fs::path target = to / name;
    const fs::file_status there = fs::symlink_status(target, ec);
    const bool sourceIsFolder = fs::is_directory(fs::symlink_status(source, ec));
    if (sourceIsFolder && fs::is_directory(there)) {
      if (!MergeInto(source, target)) return false;
      continue;
    }
    if (fs::exists(there) && !MoveAside(target)) return false;
    if (!Place(source, target)) return false;
  }
  return true;
}

bool Installer::Merge(const fs::path& staged) { return MergeInto(staged, folder_); }

bool Installer::RollBack() {
  bool all = true;
  for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
    // A placed item goes back where it came from; an item moved aside comes back.
    const std::error_code ec = step->kind == Step::kPlaced ? ops_.Rename(step->installed, step->elsewhere)
                                                           : ops_.Rename(step->elsewhere, step->installed);
    if (ec) {
      all = false;
      error_ += "; cannot restore " + step->installed.string() + ": " + ec.message();
    }
  }
  steps_.clear();
  return all;
}

}  // namespace zivra::update
