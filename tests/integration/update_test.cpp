// The updater program end to end: a scratch installation, the real local update host over TLS,
// stand-ins for the tool and the server running in a process-id namespace of the test's own,
// and the message boxes read from standard error (no display).
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cstring>
#include <filesystem>

#include "tests/support/files.h"
#include "tests/support/isolation.h"
#include "tests/support/pid_namespace.h"
#include "tests/support/snapshot.h"
#include "tests/support/update_host.h"
#include "tests/support/zip_writer.h"

namespace fs = std::filesystem;

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

const std::string kNoUpdate = "沒發現元件更新檔";
const std::string kDone = "元件已更新完成";
const std::string kFailed = "元件更新失敗";
const std::string kVersionPath = "/zivra_reader/CurVersion.txt";
const std::string kArchivePath = "/zivra_reader/releases/zivra-0181.zip";

struct Outcome {
  int exitCode = -1;
  std::string messages;  // standard error: the message boxes' texts
};

class Updater : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateHostConfigured()) GTEST_SKIP() << "this build does not point at the test update host";
    if (!Isolated()) GTEST_SKIP() << "needs root for its own network and process-id namespaces";
    PrepareFolder();
    ns_ = std::make_unique<PidNamespace>();
    standIn_ = ReadFile(ZIVRA_STANDIN);
    for (const char* program : {"zivraBrowserTool", "zivraBrowserServer"}) {
      WriteFile(install_.File(program), standIn_);
      fs::permissions(install_.File(program), fs::perms(0755));
    }
    WriteFile(install_.File("Version.txt"), "0180");
    WriteFile(install_.File("EnvTest.html"), "<p>0180</p>");
    WriteFile(install_.File("CurVersion.txt"), "left from an older run");
    starts_ = (logs_.Path() / "starts").string();
    tool_ = Start("zivraBrowserTool");
    server_ = Start("zivraBrowserServer");
  }

  // Runs before the process-id namespace (and its view of the mounts) is made.
  virtual void PrepareFolder() {}

  // Starts a program of the installation inside the namespace; returns its id as the test sees it.
  pid_t Start(const std::string& name) {
    running_.push_back(ns_->Start(install_.Program(name), Process::Options{{}, {{"ZIVRA_STANDIN_LOG", starts_}}, {}, "", ""}));
    std::vector<pid_t> found;
    EXPECT_TRUE(WaitUntil([&] { return !(found = ns_->Find(name)).empty(); }, 10s)) << name;
    return found.empty() ? -1 : found.front();
  }

  // The release 0181: new programs (the stand-in with a tag, still a working program), version,
  // page and a help folder.
  std::string Release() const {
    return MakeZip({{"zivraBrowserTool", standIn_ + "tool 0181", ZipEntry::kFile, 0755},
                    {"zivraBrowserServer", standIn_ + "server 0181", ZipEntry::kFile, 0755},
                    {"Version.txt", "0181"},
                    {"EnvTest.html", "<p>0181</p>"},
                    {"help/", "", ZipEntry::kFolder, 0755},
                    {"help/index.txt", "help 0181"}});
  }

  void Publish(UpdateHost& host, const std::string& version = "0181\r\nreleases/zivra-0181.zip") {
    host.Serve(kVersionPath, version);
    host.Serve(kArchivePath, Release());
  }

  Outcome RunUpdater(const std::string& workingDir = "/") {
    Process::Options o{{}, {{"ZIVRA_STANDIN_LOG", starts_}}, {"DISPLAY", "WAYLAND_DISPLAY"}, workingDir,
                       (logs_.Path() / "update").string()};
    Process updater = ns_->Start(install_.Program("zivraUpdate"), o);
    Outcome outcome;
    outcome.exitCode = updater.Wait(120s).value_or(-1);
    outcome.messages = updater.Stderr();
    return outcome;
  }

  bool Alive(pid_t pid) const { return !ExecutableOf(pid).empty(); }

  void ExpectUntouched(const Snapshot& before, const std::string& what) {
    EXPECT_EQ(TakeSnapshot(install_.Path()), before) << what;
    EXPECT_TRUE(Alive(tool_)) << what;
    EXPECT_EQ(ns_->Find("zivraBrowserTool"), std::vector<pid_t>{tool_}) << what;
    EXPECT_TRUE(Alive(server_)) << what;
  }

  ScratchInstall install_;
  ScratchDir logs_{"zivra-update-logs"};
  std::string standIn_;
  std::string starts_;
  std::unique_ptr<PidNamespace> ns_;
  std::vector<Process> running_;
  pid_t tool_ = -1;
  pid_t server_ = -1;
};

TEST_F(Updater, NewerReleaseReplacesTheFolderAndRestartsTheTool) {
  UpdateHost host;
  Publish(host);
  Snapshot expected = TakeSnapshot(install_.Path());
  const std::string toolPath = install_.Program("zivraBrowserTool");
  ScratchDir elsewhere("zivra-update-cwd");

  const Outcome outcome = RunUpdater(elsewhere.Path().string());
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_NE(outcome.messages.find(kDone), std::string::npos) << outcome.messages;
  EXPECT_EQ(outcome.messages.find(kFailed), std::string::npos) << outcome.messages;

  // The old tool was stopped and the new one started from the folder, without arguments.
  EXPECT_FALSE(Alive(tool_));
  std::vector<pid_t> tools;
  ASSERT_TRUE(WaitUntil([&] { return !(tools = ns_->Find("zivraBrowserTool")).empty(); }, 10s));
  ASSERT_EQ(tools.size(), 1u);
  EXPECT_EQ(ExecutableOf(tools[0]), toolPath);
  const auto toolStarts = [&] {
    const std::string log = ReadFile(starts_);
    int n = 0;
    for (auto at = log.find(toolPath + "\n"); at != std::string::npos; at = log.find(toolPath + "\n", at + 1)) ++n;
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return toolStarts() == 2; }, 10s)) << ReadFile(starts_);
  // The server was left alone: still the same process, still known by its name.
  EXPECT_TRUE(Alive(server_));
  EXPECT_EQ(ns_->Find("zivraBrowserServer"), std::vector<pid_t>{server_});

  expected["zivraBrowserTool"] = FileEntry(standIn_ + "tool 0181", 0755);
  expected["zivraBrowserServer"] = FileEntry(standIn_ + "server 0181", 0755);
  expected["Version.txt"] = FileEntry("0181");
  expected["EnvTest.html"] = FileEntry("<p>0181</p>");
  expected["help"] = "folder 0755";
  expected["help/index.txt"] = FileEntry("help 0181");
  expected.erase("CurVersion.txt");
  EXPECT_EQ(TakeSnapshot(install_.Path()), expected);  // no archive, no staging folder left
  EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
  EXPECT_EQ(host.Requests(), (std::vector<std::string>{kVersionPath, kVersionPath, kArchivePath}));
}

TEST_F(Updater, NoNewerReleaseTouchesNothing) {
  enum HostState { kServes, kNotFound, kDown };
  struct Case {
    std::string what;
    std::string installed;
    HostState host;
    std::string published;
  };
  const std::vector<Case> cases = {
      {"same version", "0181", kServes, "0181\r\nreleases/zivra-0181.zip"},
      {"same version, fewer digits", "181", kServes, "0181\r\nreleases/zivra-0181.zip"},
      {"installed is newer", "0182", kServes, "0181\r\nreleases/zivra-0181.zip"},
      {"published text is no number", "0180", kServes, "<html><body>maintenance</body></html>"},
      {"no published file (404)", "0180", kNotFound, ""},
      {"update host down", "0180", kDown, ""},
  };
  for (const Case& c : cases) {
    WriteFile(install_.File("Version.txt"), c.installed);
    const Snapshot before = TakeSnapshot(install_.Path());
    std::unique_ptr<UpdateHost> host;
    if (c.host != kDown) host = std::make_unique<UpdateHost>();
    if (c.host == kServes) Publish(*host, c.published);
    const Outcome outcome = RunUpdater();
    EXPECT_EQ(outcome.exitCode, 0) << c.what;
    EXPECT_NE(outcome.messages.find(kNoUpdate), std::string::npos) << c.what << ": " << outcome.messages;
    ExpectUntouched(before, c.what);
    if (host) {
      EXPECT_EQ(host->Requests(), std::vector<std::string>{kVersionPath}) << c.what;
    }
  }
}

TEST_F(Updater, BrokenReleaseLeavesTheInstallationAsItWas) {
  const std::string good = Release();
  struct Case {
    std::string what;
    std::string published;
    std::optional<std::string> archive;  // nullopt: 404
    std::size_t sent = std::string::npos;  // bytes sent before the connection drops
  };
  const std::string escaped = (install_.Path().parent_path() / ("zivra-escaped-" + install_.Path().filename().string())).string();
  const auto withEntry = [](const std::string& name) {
    return MakeZip({{"zivraBrowserTool", "x", ZipEntry::kFile, 0755}, {"Version.txt", "0181"}, {name, "escaped"}});
  };
  const std::vector<Case> cases = {
      {"archive missing (404)", "0181\r\nreleases/zivra-0181.zip", std::nullopt},
      {"archive is not a zip", "0181\r\nreleases/zivra-0181.zip", std::string(4096, '\x5a')},
      {"archive cut mid-transfer", "0181\r\nreleases/zivra-0181.zip", good, good.size() / 2},
      {"entry with ../", "0181\r\nreleases/zivra-0181.zip", withEntry("../" + fs::path(escaped).filename().string())},
      {"absolute entry", "0181\r\nreleases/zivra-0181.zip", withEntry(escaped)},
      {"line break after the archive path", "0181\r\nreleases/zivra-0181.zip\r\n", good},
  };
  const Snapshot before = TakeSnapshot(install_.Path());
  for (const Case& c : cases) {
    UpdateHost host;
    host.Serve(kVersionPath, c.published);
    if (c.archive) {
      host.ServeCut(kArchivePath, *c.archive, std::min(c.sent, c.archive->size()));
      host.ServeCut(kArchivePath + "\r\n", *c.archive, c.archive->size());
    }
    const Outcome outcome = RunUpdater();
    EXPECT_EQ(outcome.exitCode, 1) << c.what;
    EXPECT_NE(outcome.messages.find(kFailed), std::string::npos) << c.what << ": " << outcome.messages;
    EXPECT_EQ(outcome.messages.find(kDone), std::string::npos) << c.what;
    ExpectUntouched(before, c.what);
    EXPECT_FALSE(fs::exists(escaped)) << c.what;
  }
}

// The installation folder is a small file system of its own: room for the download of the release,
// not for unpacking it as well.
class UpdaterOnFullDisk : public Updater {
 protected:
  static constexpr std::size_t kBig = 2 << 20;

  std::string BigRelease() const {
    const std::string big(kBig, 'z');
    return MakeZip({{"zivraBrowserTool", standIn_ + big, ZipEntry::kFile, 0755},
                    {"zivraBrowserServer", standIn_ + big, ZipEntry::kFile, 0755},
                    {"Version.txt", "0181"}});
  }

  void PrepareFolder() override {
    ScratchDir aside("zivra-update-aside");
    fs::copy(install_.Path(), aside.Path(), fs::copy_options::recursive);
    ASSERT_EQ(::mount("zivra-full", install_.Path().c_str(), "tmpfs", 0, "size=64m"), 0) << std::strerror(errno);
    mounted_ = true;
    fs::copy(aside.Path(), install_.Path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

  // Shrinks the file system to what it holds now, the downloaded archive and a little more.
  void LeaveRoomForTheDownloadOnly(std::size_t archiveBytes) {
    const fs::space_info space = fs::space(install_.Path());
    const std::uintmax_t bytes = (space.capacity - space.free) + archiveBytes + (256 << 10);
    const std::string options = "size=" + std::to_string(bytes);
    ASSERT_EQ(::mount("zivra-full", install_.Path().c_str(), "tmpfs", MS_REMOUNT, options.c_str()), 0)
        << std::strerror(errno);
  }

  void TearDown() override {
    running_.clear();
    ns_.reset();
    if (mounted_) ::umount2(install_.Path().c_str(), MNT_DETACH);
  }

  bool mounted_ = false;
};

TEST_F(UpdaterOnFullDisk, WriteErrorWhileUnpackingLeavesTheInstallationAsItWas) {
  UpdateHost host;
  host.Serve(kVersionPath, "0181\r\nreleases/zivra-0181.zip");
  const std::string release = BigRelease();
  host.Serve(kArchivePath, release);
  LeaveRoomForTheDownloadOnly(release.size());
  const Snapshot before = TakeSnapshot(install_.Path());
  const Outcome outcome = RunUpdater();
  EXPECT_EQ(outcome.exitCode, 1) << outcome.messages;
  EXPECT_NE(outcome.messages.find(kFailed), std::string::npos) << outcome.messages;
  ExpectUntouched(before, "full disk");
  // The archive was downloaded: the failure came from unpacking it.
  ASSERT_FALSE(host.Requests().empty());
  EXPECT_EQ(host.Requests().back(), kArchivePath);
}

}  // namespace
}  // namespace zivra::test
