// The control dialog's buttons with everything real but the widgets: the dialog logic runs in a
// driver program inside the installation folder, against the real server, the real process list
// of the test's own namespace, real files and the real HTTPS request.
#include <gmock/gmock.h>

#include "resources/texts.h"
#include "tests/integration/tool_fixture.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ToolDialog : public ToolFixture {
 protected:
  ToolDialog() {
    std::filesystem::copy_file(ZIVRA_TOOL_DIALOG_DRIVER, install_.File("dialog_driver"));
  }

  struct Run {
    int exitCode = -1;
    std::vector<std::string> window;  // the driver's lines without the "done" ones
    std::string messages;             // the message boxes' texts (standard error)
  };
  Run Drive(const std::vector<std::string>& actions) {
    Process driver = Start(install_.Program("dialog_driver"), actions, {}, "driver");
    Run run;
    run.exitCode = driver.Wait(90s).value_or(-1);
    std::istringstream out(ReadFile(home_.Path() / "driver.out"));
    for (std::string line; std::getline(out, line) && line != "finished";) {
      if (!line.starts_with("done ")) run.window.push_back(line);
    }
    run.messages = ReadFile(home_.Path() / "driver.err");
    return run;
  }
  static std::string Message(std::string_view text) { return "zIvra: " + std::string(text) + "\n"; }
  static std::string Status(std::string_view text) { return "window1 status " + std::string(text); }
};

TEST_F(ToolDialog, StartReplacesTheRunningServerAndStopEndsIt) {
  Process first = Start(install_.Program("zivraBrowserServer"), {}, {}, "first");
  const pid_t before = WaitForOneListeningServer();
  ASSERT_NE(before, 0);

  Run start = Drive({"open", "start", "cancel"});
  EXPECT_EQ(start.exitCode, 0);
  EXPECT_THAT(start.window,
              ElementsAre("window1 created", "window1 buttons start=off stop=on", Status(text::SystemStarted),
                          "window1 shown", "window1 buttons start=off stop=on", Status(text::SystemStarted),
                          "window1 hidden"));
  EXPECT_EQ(start.messages, Message(text::SystemStarted));
  const pid_t after = WaitForOneListeningServer();
  EXPECT_NE(after, 0);
  EXPECT_NE(after, before);

  Run stop = Drive({"open", "stop", "ok"});
  EXPECT_EQ(stop.exitCode, 0);
  EXPECT_THAT(stop.window,
              ElementsAre("window1 created", "window1 buttons start=off stop=on", Status(text::SystemStarted),
                          "window1 shown", "window1 buttons start=on stop=off", Status(text::SystemStopped),
                          "window1 hidden"));
  EXPECT_EQ(stop.messages, Message(text::SystemStopped));
  EXPECT_THAT(Servers(), IsEmpty());  // process control waits until the process has ended

  EXPECT_THAT(ToolLogLines(), ElementsAre(LogEntry("zivraBrowserTool", "operation", big5::SystemStartSucceeded),
                                          LogEntry("zivraBrowserTool", "operation", big5::SystemStopped)));
}

TEST_F(ToolDialog, StopWithoutAServerStillReportsAndStartThenStartsOne) {
  Run run = Drive({"open", "stop", "start"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.messages, Message(text::SystemStopped) + Message(text::SystemStarted));
  EXPECT_NE(WaitForOneListeningServer(), 0);
}

TEST_F(ToolDialog, SystemCheckAndHelpHandTheLocalFilesToTheOpener) {
  Run run = Drive({"open", "check", "help", "cancel", "open"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string opened = Opened();
        return std::count(opened.begin(), opened.end(), '\n') == 2;
      },
      10s));
  // The test page as a local file of the installation, not from the server's port.
  EXPECT_EQ(Opened(), install_.Program("EnvTest.html") + "\n" + install_.Program("Zivra.pdf") + "\n");
  EXPECT_THAT(ToolLogLines(), ElementsAre(LogEntry("zivraBrowserTool", "operation", big5::SystemTest),
                                          LogEntry("zivraBrowserTool", "operation", big5::SystemHelp)));
  EXPECT_EQ(run.messages, "");
  // Neither button keeps the dialog: closing ends it and opening builds a new one.
  EXPECT_THAT(run.window, ::testing::Contains("window1 ended"));
  EXPECT_THAT(run.window, ::testing::Contains("window2 created"));
}

TEST_F(ToolDialog, SystemLogPutsTheDebugLinesOfOneTestRequestOnTheDesktop) {
  Process first = Start(install_.Program("zivraBrowserServer"), {}, {}, "first");
  ASSERT_NE(WaitForOneListeningServer(), 0);
  std::filesystem::create_directories(DesktopFolder());
  WriteFile(DesktopFolder() / "zivraDebug.txt", "an older copy\r\n");
  WriteFile(install_.File("zivraDebug.txt"), "lines of an earlier debug run\r\n");

  Run run = Drive({"open", "log"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.messages, Message(text::SystemLogNotice));

  const std::string copy = ReadFile(DesktopFolder() / "zivraDebug.txt");
  EXPECT_EQ(copy, ReadFile(install_.File("zivraDebug.txt")));
  // The debug server's own start, then the card read of the test request.
  EXPECT_THAT(copy, HasSubstr(LogEntry("zivraBrowserServer", "debug", big5::ComponentStarted)));
  EXPECT_THAT(copy, HasSubstr(LogEntry("HttpsServer", "debug", "read Certificate successful")));
  EXPECT_THAT(copy, HasSubstr("[smartCard]"));
  EXPECT_THAT(copy, ::testing::Not(HasSubstr("earlier debug run")));

  // A server runs again, in normal mode.
  const pid_t server = WaitForOneListeningServer();
  ASSERT_NE(server, 0);
  EXPECT_EQ(CommandLine(server), install_.Program("zivraBrowserServer"));
  EXPECT_THAT(ToolLogLines(), IsEmpty());  // this action writes no log line
  // Nothing but the state of the dialog as it was opened.
  EXPECT_THAT(run.window, ElementsAre("window1 created", "window1 buttons start=off stop=on",
                                      Status(text::SystemStarted), "window1 shown"));
}

}  // namespace
}  // namespace zivra::test
