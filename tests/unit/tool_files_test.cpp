// The tool's platform pieces that work on files alone: lock-file markers and the desktop copy.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/markers.h"
#include "tool/real_tool_system.h"

namespace zivra {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    std::string t = "/tmp/zivra-unit-XXXXXX";
    path = ::mkdtemp(t.data());
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

// Sets an environment variable for one test and puts the old value back.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Marker, ExistsExactlyWhileSomeoneHoldsIt) {
  TempDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path.c_str());
  {
    platform::Marker first("zivraBrowserTool.exe");
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(first.AlreadyExisted());
    EXPECT_TRUE(fs::exists(dir.path / "zivraBrowserTool.exe"));
    platform::Marker second("zivraBrowserTool.exe");
    EXPECT_TRUE(second.AlreadyExisted());
    {
      platform::Marker third("zivraBrowserTool.exe");
      EXPECT_TRUE(third.AlreadyExisted());
    }
    platform::Marker other("zivraBrowserServer.exe");
    EXPECT_FALSE(other.AlreadyExisted());  // markers do not meet by folder, only by name
  }
  // The lock file stays behind, but with no holder the marker does not exist.
  platform::Marker again("zivraBrowserTool.exe");
  EXPECT_FALSE(again.AlreadyExisted());
}

TEST(Marker, FallsBackToAPrivateFolderInTmp) {
  EnvVar runtime("XDG_RUNTIME_DIR", nullptr);
  const std::string expected = "/tmp/zivra-" + std::to_string(::geteuid()) + "/";
  EXPECT_EQ(platform::MarkerFolder(), expected);
  struct stat st {};
  ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(Marker, ANameThatIsAPathIsNeverMade) {
  TempDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path.c_str());
  platform::Marker bad("../escape");
  EXPECT_FALSE(bad.Held());
  EXPECT_FALSE(bad.AlreadyExisted());
  EXPECT_FALSE(fs::exists(dir.path.parent_path() / "escape"));
}

TEST(CopyFileInto, ReplacesAnOlderCopyAndMakesTheFolder) {
  TempDir dir;
  std::ofstream(dir.path / "zivraDebug.txt") << "new lines\r\n";
  const fs::path desktop = dir.path / "home" / "Desktop";
  ASSERT_TRUE(tool::CopyFileInto((dir.path / "zivraDebug.txt").string(), desktop.string(), "zivraDebug.txt"));
  std::ofstream(dir.path / "zivraDebug.txt") << "newer\r\n";
  ASSERT_TRUE(tool::CopyFileInto((dir.path / "zivraDebug.txt").string(), desktop.string(), "zivraDebug.txt"));
  EXPECT_EQ(Read(desktop / "zivraDebug.txt"), "newer\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(desktop), fs::directory_iterator()), 1);  // no leftovers
}

TEST(CopyFileInto, ALinkOnTheDesktopIsReplacedNotFollowed) {
  TempDir dir;
  std::ofstream(dir.path / "zivraDebug.txt") << "log";
  std::ofstream(dir.path / "precious") << "keep me";
  fs::create_directory(dir.path / "Desktop");
  fs::create_symlink(dir.path / "precious", dir.path / "Desktop" / "zivraDebug.txt");
  ASSERT_TRUE(tool::CopyFileInto((dir.path / "zivraDebug.txt").string(), (dir.path / "Desktop").string(),
                                 "zivraDebug.txt"));
  EXPECT_EQ(Read(dir.path / "precious"), "keep me");
  EXPECT_FALSE(fs::is_symlink(dir.path / "Desktop" / "zivraDebug.txt"));
  EXPECT_EQ(Read(dir.path / "Desktop" / "zivraDebug.txt"), "log");
}

TEST(CopyFileInto, AMissingSourceCopiesNothing) {
  TempDir dir;
  fs::create_directory(dir.path / "Desktop");
  std::ofstream(dir.path / "Desktop" / "zivraDebug.txt") << "old";
  EXPECT_FALSE(tool::CopyFileInto((dir.path / "none").string(), (dir.path / "Desktop").string(), "zivraDebug.txt"));
  EXPECT_EQ(Read(dir.path / "Desktop" / "zivraDebug.txt"), "old");
}

}  // namespace
}  // namespace zivra
