#include <gtest/gtest.h>

#include "resources/texts.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace zivra {
namespace {

// The Big5 constants the programs log must be exactly what iconv makes of the UTF-8 source.
TEST(Texts, Big5MatchesIconv) {
  test::ScratchDir dir;
  int withBackslashByte = 0;
  for (const texts::Entry& e : texts::kAll) {
    const auto in = dir.Path() / "in";
    test::WriteFile(in, std::string(e.utf8));
    const test::CommandResult r = test::RunCommand({"iconv", "-f", "UTF-8", "-t", "CP950", in.string()});
    ASSERT_EQ(r.exitCode, 0) << e.name;
    EXPECT_EQ(r.output, e.big5) << e.name;
    if (e.big5.find('\x5c') != std::string_view::npos) ++withBackslashByte;
  }
  EXPECT_GT(withBackslashByte, 0);  // 0x5C trail bytes survive the generated literals
}

TEST(Texts, KnownBytes) {
  EXPECT_EQ(big5::ComponentStarted, "\xa4\xb8\xa5\xf3\xb1\xd2\xb0\xca\xa6\xa8\xa5\x5c");
  EXPECT_EQ(text::SystemLogNotice, "系統Log將放置於使用者桌面\n檔名為zivraDebug.txt");
}

}  // namespace
}  // namespace zivra
