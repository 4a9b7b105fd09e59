#include "update/update_flow.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/version.h"
#include "platform/unzip.h"
#include "resources/texts.h"
#include "tool/process_control.h"

namespace fs = std::filesystem;

namespace zivra::update {
namespace {

constexpr std::string_view kStagingPrefix = ".zivraUpdate-";

// Two updaters at once would mix their files: the second waits for the first. The lock is on
// the folder itself, so no file is left behind.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A fresh folder inside the installation folder for the download, the unpacked release and the
// files it replaces; removed with everything in it when the run ends.
class Staging {
 public:
  explicit Staging(const std::string& folder) {
    std::string pattern = folder + std::string(kStagingPrefix) + "XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() { Remove(); }
  bool Made() const { return !path_.empty(); }
  const fs::path& Path() const { return path_; }
  void Remove() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
    path_.clear();
  }

 private:
  fs::path path_;
};

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(p, ec));
}

void Note(const std::string& what) { std::fprintf(stderr, "zivraUpdate: %s\n", what.c_str()); }

}  // namespace

int RunUpdate(const std::string& folder, UpdateEnvironment& env, FileOps& ops) {
  if (folder.empty() || folder.back() != '/') {
    Note("cannot tell the installation folder");
    env.Show(text::UpdateFailed);
    return 1;
  }
  FolderLock lock(folder);
  const std::string published = GetPublishedVersion([&] { return env.PublishedText(); });
  if (CompareVersion(published, folder + std::string(kInstalledVersionFile)) == 0) {
    lock.Release();
    env.Show(text::NoUpdateFound);
    return 0;
  }

  const std::string toolName = tool::InstalledName(tool::kToolExe);
  Staging staging(folder);
  auto fail = [&](const std::string& why) {
    Note(why);
    staging.Remove();
    lock.Release();
    env.Show(text::UpdateFailed);
    return 1;
  };

  const std::string archivePath = GetArchiveName([&] { return env.PublishedText(); });
  if (!IsSafeArchivePath(archivePath)) return fail("the published archive path is not usable");
  if (!staging.Made()) return fail("cannot make a staging folder in " + folder);
  const fs::path archive = staging.Path() / kArchiveName;
  const fs::path release = staging.Path() / "release";
  const fs::path backup = staging.Path() / "replaced";
  if (!env.DownloadArchive(UpdateBaseUrl() + archivePath, archive.string())) {
    return fail("cannot download " + archivePath);
  }
  std::error_code ec;
  fs::create_directory(release, ec);
  fs::create_directory(backup, ec);
  std::string error;
  if (!platform::UnpackZip(archive.string(), release.string(), error)) return fail(error);
  // A release that would leave the folder without the tool or its version is refused.
  for (const std::string& needed : {toolName, std::string(kInstalledVersionFile)}) {
    if (!IsRegularFile(release / needed)) return fail("the archive holds no " + needed);
  }

  // Programs packed on a system without execute bits must still start.
  for (std::string_view program : {tool::kToolExe, tool::kServerExe, tool::kUpdateExe}) {
    const fs::path p = release / tool::InstalledName(program);
    if (!IsRegularFile(p)) continue;
    const fs::perms perms = fs::status(p, ec).permissions();
    fs::perms exec = fs::perms::owner_exec;
    if ((perms & fs::perms::group_read) != fs::perms::none) exec |= fs::perms::group_exec;
    if ((perms & fs::perms::others_read) != fs::perms::none) exec |= fs::perms::others_exec;
    fs::permissions(release / tool::InstalledName(program), exec, fs::perm_options::add, ec);
  }

  const bool toolWasRunning = env.StopTool();
  Installer installer(folder, backup, ops);
  const bool installed = installer.Remove(toolName) && installer.Remove(std::string(kInstalledVersionFile)) &&
                         installer.Merge(release) && installer.Remove(std::string(kArchiveName)) &&
                         installer.Remove(std::string(kPublishedVersionFile));
  if (!installed) {
    std::string why = installer.Error();
    if (!installer.RollBack()) why = installer.Error();
    if (toolWasRunning) env.StartTool();
    return fail(why);
  }
  staging.Remove();
  env.StartTool();
  lock.Release();
  env.Show(text::UpdateDone);
  return 0;
}

int RunUpdate(const std::string& folder, UpdateEnvironment& env) {
  FileOps ops;
  return RunUpdate(folder, env, ops);
}

}  // namespace zivra::update
