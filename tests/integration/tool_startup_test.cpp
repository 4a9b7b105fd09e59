// The real tool without a display: its start-up steps run, then window creation fails, which is
// logged, and it exits 0. Real server, real process list (of the test's own namespace), the
// test's update host.
#include <gmock/gmock.h>

#include "resources/texts.h"
#include "tests/integration/tool_fixture.h"
#include "tests/support/update_host.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class ToolStartup : public ToolFixture {
 protected:
  // Runs the tool to its end; its exit code.
  int RunTool(const std::string& outputName = "tool") {
    Process tool = StartTool({}, outputName);
    const auto code = tool.Wait(60s);
    EXPECT_TRUE(code.has_value()) << "the tool did not end";
    return code.value_or(-1);
  }
  std::string ToolErr(const std::string& outputName = "tool") const {
    return ReadFile(home_.Path() / (outputName + ".err"));
  }

  const std::string initFailed = LogEntry("zivraBrowserTool", "error", big5::ToolInitFailed);
};

TEST_F(ToolStartup, FirstStartStartsOneServerAndTheNextStartNoSecondOne) {
  EXPECT_EQ(RunTool("first"), 0);
  const pid_t server = WaitForOneListeningServer();
  ASSERT_NE(server, 0) << ReadFile(home_.Path() / "first.err");
  EXPECT_EQ(CommandLine(server), install_.Program("zivraBrowserServer"));  // no "Debug"
  EXPECT_THAT(ToolLogLines(), ElementsAre(initFailed));
  EXPECT_THAT(ToolErr("first"), Not(HasSubstr("zIvra:")));  // no message at all

  EXPECT_EQ(RunTool("second"), 0);
  std::this_thread::sleep_for(500ms);  // a wrongly started second server would show by now
  EXPECT_THAT(Servers(), ElementsAre(server));
  EXPECT_THAT(ToolLogLines(), ElementsAre(initFailed, initFailed));
}

TEST_F(ToolStartup, AServerStartedByHandIsKept) {
  Process byHand = Start(install_.Program("zivraBrowserServer"), {}, {}, "byhand");
  const pid_t server = WaitForOneListeningServer();
  ASSERT_NE(server, 0);
  EXPECT_EQ(RunTool(), 0);
  std::this_thread::sleep_for(500ms);
  EXPECT_THAT(Servers(), ElementsAre(server));
}

TEST_F(ToolStartup, ANewerPublishedVersionIsAnnouncedAndTheServerStillStarts) {
  if (!UpdateHostConfigured()) GTEST_SKIP() << "this build does not use the tests' update host";
  UpdateHost host;
  host.Serve("/zivra_reader/CurVersion.txt", "0181\r\nzivraBrowserTool.zip");
  WriteFile(install_.File("Version.txt"), "0180");
  EXPECT_EQ(RunTool(), 0);
  EXPECT_THAT(host.Requests(), ElementsAre("/zivra_reader/CurVersion.txt"));
  // Without a display the message box writes its text to standard error.
  EXPECT_EQ(ToolErr(), "zIvra: " + std::string(text::UpdateAvailable) + "\n");
  EXPECT_NE(WaitForOneListeningServer(), 0);
}

TEST_F(ToolStartup, NoNoticeForTheSameVersionOrAnUnreachableHost) {
  if (UpdateHostConfigured()) {
    UpdateHost host;
    host.Serve("/zivra_reader/CurVersion.txt", "0180\r\nzivraBrowserTool.zip");
    WriteFile(install_.File("Version.txt"), "180");
    EXPECT_EQ(RunTool("same"), 0);
    EXPECT_EQ(host.Requests().size(), 1u);
    EXPECT_THAT(ToolErr("same"), Not(HasSubstr("zIvra:")));
  }
  EXPECT_EQ(RunTool("unreachable"), 0);  // no update host listens now
  EXPECT_THAT(ToolErr("unreachable"), Not(HasSubstr("zIvra:")));
  EXPECT_NE(WaitForOneListeningServer(), 0);
}

TEST_F(ToolStartup, WithoutAServerProgramTheToolGoesOnSilently) {
  std::filesystem::remove(install_.File("zivraBrowserServer"));
  EXPECT_EQ(RunTool(), 0);
  EXPECT_TRUE(Servers().empty());
  EXPECT_THAT(ToolLogLines(), ElementsAre(initFailed));
}

}  // namespace
}  // namespace zivra::test
