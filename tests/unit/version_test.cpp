// The version check: published against installed texts, the archive name, and which archive
// paths may be appended to the update host's base URL.
#include <gtest/gtest.h>

#include <optional>

#include "common/version.h"
#include "tests/support/files.h"

namespace zivra {
namespace {

struct CompareCase {
  std::string published;
  std::optional<std::string> installedFile;  // nullopt: no "Version.txt"
  int expected;
};

TEST(CompareVersion, PublishedAgainstInstalled) {
  const std::vector<CompareCase> cases = {
      {"0181", "0180", 1},
      {"0180", "0180", 0},
      {"0180", "180", 0},
      {"0179", "0180", 0},
      {"18", "0017", 1},                 // a published text of two digits
      {"0181\r", "0180", 1},             // a CR after the digits ends the number
      {" 181", "180", 1},                // leading blanks are skipped
      {"0182", "0100\r\n0181", 1},       // the last line is the installed version
      {"0181", "0100\r\n0181", 0},
      {"0181", "0180\n", 1},             // a trailing line break does not hide the version
      {"0181", "0180\r\n\r\n", 1},
      {"", "0180", 0},                   // host unreachable
      {"", std::nullopt, 0},
      {"0181", std::nullopt, 0},         // no installed version: nothing to compare
      {"0181", "", 0},
      {"0181", "abc", 0},
      {"<htm", "0180", 0},               // an error page
      {"<!DO", "0180", 0},
      {"2147483648", "0180", 0},         // out of the signed 32-bit range
      {"0181", "2147483648", 0},
      {"0181", "-2147483649", 0},
      {"2147483647", "-2147483648", 1},
      {"-1", "0180", 0},
  };
  for (const CompareCase& c : cases) {
    test::ScratchDir dir("zivra-version");
    const std::string file = (dir.Path() / "Version.txt").string();
    if (c.installedFile) test::WriteFile(file, *c.installedFile);
    EXPECT_EQ(CompareVersion(c.published, file), c.expected)
        << "published \"" << c.published << "\", installed \"" << c.installedFile.value_or("(none)") << "\"";
  }
}

TEST(PublishedFile, VersionAndArchiveName) {
  struct Case {
    std::string text;  // what the update host delivers
    std::string version;
    std::string archive;
  };
  const std::vector<Case> cases = {
      {"0181\r\nzivraBrowserTool.zip", "0181", "zivraBrowserTool.zip"},
      {"0181\r\nreleases/0181/zivra.zip", "0181", "releases/0181/zivra.zip"},
      {"0181\r\nzivraBrowserTool.zip\r\n", "0181", "zivraBrowserTool.zip\r\n"},  // taken unchanged
      {"18", "18", ""},
      {"0181\r\n", "0181", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const PublishedSource source = [&] { return c.text; };
    EXPECT_EQ(GetPublishedVersion(source), c.version) << c.text;
    EXPECT_EQ(GetArchiveName(source), c.archive) << c.text;
  }
}

TEST(PublishedFile, EachCallFetchesAnew) {
  int fetches = 0;
  const PublishedSource source = [&] {
    ++fetches;
    return std::string("0181\r\nzivraBrowserTool.zip");
  };
  GetPublishedVersion(source);
  GetArchiveName(source);
  EXPECT_EQ(fetches, 2);
}

TEST(ParseVersion, ReadsLikeStrtolWithinRange) {
  EXPECT_EQ(ParseVersion("0180"), 180);
  EXPECT_EQ(ParseVersion("+7x"), 7);
  EXPECT_EQ(ParseVersion("\t-12"), -12);
  EXPECT_EQ(ParseVersion("2147483647"), 2147483647);
  EXPECT_EQ(ParseVersion("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseVersion("99999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseVersion("-"), std::nullopt);
  EXPECT_EQ(ParseVersion("x1"), std::nullopt);
  EXPECT_EQ(ParseVersion(""), std::nullopt);
}

TEST(ArchivePath, OnlyPlainRelativePathsAreUsable) {
  for (const char* good : {"zivraBrowserTool.zip", "releases/0181/zivra-1.81.zip", "a_b~c%20d.zip"}) {
    EXPECT_TRUE(IsSafeArchivePath(good)) << good;
  }
  for (const char* bad : {"", "zivraBrowserTool.zip\r\n", "zivraBrowserTool.zip\n", "zivra Tool.zip",
                          "zivra\tTool.zip", "/zivraBrowserTool.zip", "//evil.example/x.zip",
                          "https://evil.example/x.zip", "file:x.zip", "../x.zip", "a/../../x.zip",
                          "%2e%2e/x.zip", "a/%2E%2E/x.zip", "a\\b.zip", "\xe5\x85\x83.zip", "a\x7f.zip"}) {
    EXPECT_FALSE(IsSafeArchivePath(bad)) << bad;
  }
}

TEST(InstalledVersion, LastLineWithContent) {
  EXPECT_EQ(InstalledVersionText("0180"), "0180");
  EXPECT_EQ(InstalledVersionText("x\r\n0181"), "0181");
  EXPECT_EQ(InstalledVersionText("0181\r\n"), "0181");
  EXPECT_EQ(InstalledVersionText("\r\n\n"), "");
}

}  // namespace
}  // namespace zivra
