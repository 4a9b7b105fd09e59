// The update run over a real scratch folder, with the update host, the tool's process and the
// message box replaced by a recording fake, and file moves that can be made to fail.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/version.h"
#include "resources/texts.h"
#include "tests/support/files.h"
#include "tests/support/snapshot.h"
#include "tests/support/zip_writer.h"
#include "update/update_flow.h"

namespace fs = std::filesystem;

namespace zivra::update {
namespace {

using test::FileEntry;
using test::MakeZip;
using test::ZipEntry;

class FakeEnvironment : public UpdateEnvironment {
 public:
  std::string published = "0181\r\nrel/zivra.zip";
  std::optional<std::string> archive;  // nullopt: the download fails
  bool toolRunning = true;
  std::vector<std::string> events;
  std::string downloadedUrl;

  std::string PublishedText() override { return published; }
  bool DownloadArchive(const std::string& url, const std::string& path) override {
    events.push_back("download");
    downloadedUrl = url;
    if (!archive) return false;
    test::WriteFile(path, *archive);
    return true;
  }
  bool StopTool() override {
    events.push_back("stop");
    const bool was = toolRunning;
    toolRunning = false;
    return was;
  }
  void StartTool() override {
    events.push_back("start");
    toolRunning = true;
  }
  void Show(std::string_view text) override { events.push_back("show " + std::string(text)); }
};

// Fails the n-th rename (counting from 1) and every rename after it, as a full or failing disk
// would; the roll-back's own renames then succeed again.
class FailingOps : public FileOps {
 public:
  explicit FailingOps(int failAt) : failAt_(failAt) {}
  std::error_code Rename(const fs::path& from, const fs::path& to) override {
    ++renames_;
    if (renames_ == failAt_) return std::make_error_code(std::errc::no_space_on_device);
    return FileOps::Rename(from, to);
  }
  int Renames() const { return renames_; }

 private:
  int failAt_;
  int renames_ = 0;
};

class UpdateFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    Put("zivraBrowserTool", "old tool", fs::perms(0755));
    Put("zivraBrowserServer", "old server", fs::perms(0755));
    Put("Version.txt", "0180");
    Put("EnvTest.html", "old page");
    Put("keep.txt", "not in the release");
    Put("CurVersion.txt", "stale");
    Put("docs/old.txt", "old doc");
    Put("docs/manual.txt", "old manual");
    Put("plugins", "a file where the release has a folder");
    env_.archive = MakeZip({
        {"zivraBrowserTool", "new tool", ZipEntry::kFile, 0755},
        {"Version.txt", "0181"},
        {"EnvTest.html", "new page"},
        {"docs/", "", ZipEntry::kFolder},
        {"docs/manual.txt", "new manual"},
        {"plugins/", "", ZipEntry::kFolder},
        {"plugins/a/b.txt", "deep"},
    });
  }

  void Put(const std::string& name, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
    const fs::path p = dir_.Path() / name;
    fs::create_directories(p.parent_path());
    test::WriteFile(p, bytes);
    fs::permissions(p, mode);
  }

  bool StagingLeft() const {
    for (const auto& e : fs::directory_iterator(dir_.Path())) {
      if (e.path().filename().string().starts_with(".zivraUpdate-")) return true;
    }
    return false;
  }

  test::ScratchDir dir_{"zivra-update"};
  FakeEnvironment env_;
};

TEST_F(UpdateFlow, ReplacesTheReleaseAndRestartsTheTool) {
  EXPECT_EQ(RunUpdate(dir_.Folder(), env_), 0);
  EXPECT_EQ(env_.events, (std::vector<std::string>{"download", "stop", "start", "show " + std::string(text::UpdateDone)}));
  EXPECT_EQ(env_.downloadedUrl, UpdateBaseUrl() + "rel/zivra.zip");
  test::Snapshot expected = {
      {"zivraBrowserTool", FileEntry("new tool", 0755)},
      {"zivraBrowserServer", FileEntry("old server", 0755)},
      {"Version.txt", FileEntry("0181")},
      {"EnvTest.html", FileEntry("new page")},
      {"keep.txt", FileEntry("not in the release")},
      {"docs", "folder 0755"},
      {"docs/old.txt", FileEntry("old doc")},
      {"docs/manual.txt", FileEntry("new manual")},
      {"plugins", "folder 0755"},
      {"plugins/a", "folder 0755"},
      {"plugins/a/b.txt", FileEntry("deep")},
  };
  const test::Snapshot after = test::TakeSnapshot(dir_.Path());
  // The folder made on the fly for "plugins/a" takes the process's umask; compare it by presence.
  ASSERT_TRUE(after.contains("plugins/a"));
  expected["plugins/a"] = after.at("plugins/a");
  EXPECT_EQ(after, expected);
}

TEST_F(UpdateFlow, NoNewerVersionTouchesNothing) {
  for (const char* published : {"0180\r\nrel/zivra.zip", "0179\r\nrel/zivra.zip", "", "<html>"}) {
    const test::Snapshot before = test::TakeSnapshot(dir_.Path());
    env_.events.clear();
    env_.published = published;
    EXPECT_EQ(RunUpdate(dir_.Folder(), env_), 0);
    EXPECT_EQ(env_.events, (std::vector<std::string>{"show " + std::string(text::NoUpdateFound)})) << published;
    EXPECT_EQ(test::TakeSnapshot(dir_.Path()), before);
  }
}

// Everything that can be wrong with what the host delivers is found before the tool is stopped.
TEST_F(UpdateFlow, BadReleasesFailBeforeTheToolIsStopped) {
  struct Case {
    std::string what;
    std::string published;
    std::optional<std::string> archive;
  };
  const std::string fine = *env_.archive;
  const auto zip = [](std::vector<ZipEntry> entries) {
    entries.insert(entries.begin(), {{"zivraBrowserTool", "new", ZipEntry::kFile, 0755}, {"Version.txt", "0181"}});
    return MakeZip(entries);
  };
  ASSERT_NE(fine.find("new page"), std::string::npos);
  const std::vector<Case> cases = {
      {"line break after the archive path", "0181\r\nrel/zivra.zip\r\n", fine},
      {"no archive path", "0181\r\n", fine},
      {"archive path with a scheme", "0181\r\nhttps://elsewhere.invalid/x.zip", fine},
      {"archive path leaving the base path", "0181\r\n../x.zip", fine},
      {"download failed", "0181\r\nrel/zivra.zip", std::nullopt},
      {"not a zip archive", "0181\r\nrel/zivra.zip", std::string("<html>404</html>")},
      {"cut short", "0181\r\nrel/zivra.zip", fine.substr(0, fine.size() / 2)},
      {"damaged entry", "0181\r\nrel/zivra.zip",
       [&] {
         std::string z = fine;
         const auto at = z.find("new page");  // stored: the checksum no longer fits
         if (at != std::string::npos) z[at] = 'N';
         return z;
       }()},
      {"no tool in the release", "0181\r\nrel/zivra.zip", MakeZip({{"Version.txt", "0181"}})},
      {"no version in the release", "0181\r\nrel/zivra.zip",
       MakeZip({{"zivraBrowserTool", "new", ZipEntry::kFile, 0755}})},
      {"empty archive", "0181\r\nrel/zivra.zip", MakeZip({})},
      {"entry with ..", "0181\r\nrel/zivra.zip", zip({{"../escaped.txt", "x"}})},
      {"entry with .. inside", "0181\r\nrel/zivra.zip", zip({{"docs/../../escaped.txt", "x"}})},
      {"absolute entry", "0181\r\nrel/zivra.zip", zip({{(dir_.Path().parent_path() / "escaped.txt").string(), "x"}})},
      {"symbolic link", "0181\r\nrel/zivra.zip", zip({{"link", "/etc", ZipEntry::kSymlink}})},
      {"backslash", "0181\r\nrel/zivra.zip", zip({{"..\\escaped.txt", "x"}})},
  };
  const test::Snapshot before = test::TakeSnapshot(dir_.Path());
  for (const Case& c : cases) {
    env_.events.clear();
    env_.published = c.published;
    env_.archive = c.archive;
    EXPECT_EQ(RunUpdate(dir_.Folder(), env_), 1) << c.what;
    EXPECT_EQ(std::count(env_.events.begin(), env_.events.end(), "stop"), 0) << c.what;
    ASSERT_FALSE(env_.events.empty());
    EXPECT_EQ(env_.events.back(), "show " + std::string(text::UpdateFailed)) << c.what;
    EXPECT_EQ(test::TakeSnapshot(dir_.Path()), before) << c.what;
    EXPECT_FALSE(StagingLeft()) << c.what;
    EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "escaped.txt")) << c.what;
  }
}

// A move that fails part-way through putting the release in place is undone, at every step.
TEST_F(UpdateFlow, FailedMoveRestoresTheFolderAndTheTool) {
  const test::Snapshot before = test::TakeSnapshot(dir_.Path());
  int renamesOfAWholeRun = 0;
  {
    test::ScratchDir other("zivra-update-count");
    fs::copy(dir_.Path(), other.Path(), fs::copy_options::recursive);
    FakeEnvironment env = env_;
    FailingOps counting(0);
    ASSERT_EQ(RunUpdate(other.Folder(), env, counting), 0);
    renamesOfAWholeRun = counting.Renames();
  }
  ASSERT_GT(renamesOfAWholeRun, 5);
  for (int failAt = 1; failAt <= renamesOfAWholeRun; ++failAt) {
    env_.events.clear();
    env_.toolRunning = true;
    FailingOps ops(failAt);
    EXPECT_EQ(RunUpdate(dir_.Folder(), env_, ops), 1) << "rename " << failAt;
    EXPECT_EQ(env_.events, (std::vector<std::string>{"download", "stop", "start",
                                                      "show " + std::string(text::UpdateFailed)}))
        << "rename " << failAt;
    EXPECT_EQ(test::TakeSnapshot(dir_.Path()), before) << "rename " << failAt;
    EXPECT_FALSE(StagingLeft());
  }
}

TEST_F(UpdateFlow, ToolNotRunningIsStartedAfterTheUpdate) {
  env_.toolRunning = false;
  EXPECT_EQ(RunUpdate(dir_.Folder(), env_), 0);
  EXPECT_TRUE(env_.toolRunning);
  EXPECT_EQ(test::ReadFile(dir_.Path() / "Version.txt"), "0181");
}

}  // namespace
}  // namespace zivra::update
