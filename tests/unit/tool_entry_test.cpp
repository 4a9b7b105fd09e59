// The tool's start-up rule and its tray commands, step by step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "resources/texts.h"
#include "tests/unit/tool_fakes.h"
#include "tool/tool_entry.h"

namespace zivra::tool {
namespace {

using ::testing::ElementsAre;
using test::RecordingFactory;
using test::RecordingSystem;

TEST(ToolStartupRule, FirstStartWithoutAServerStartsOneAndShowsNothing) {
  RecordingSystem s;
  RunStartup(s);
  EXPECT_THAT(s.calls, ElementsAre("published", "marker zivraBrowserServer.exe", "marker zivraBrowserTool.exe",
                                   "compare 0180", "find zivraBrowserServer.exe", "open zivraBrowserServer.exe"));
}

TEST(ToolStartupRule, AServerStartedByHandIsNeitherEndedNorStartedAgain) {
  RecordingSystem s;
  s.processes["zivraBrowserServer.exe"] = {77};
  RunStartup(s);
  EXPECT_THAT(s.calls, ElementsAre("published", "marker zivraBrowserServer.exe", "marker zivraBrowserTool.exe",
                                   "compare 0180", "find zivraBrowserServer.exe"));
}

TEST(ToolStartupRule, ASecondCopyEndsTheServerAndTheOtherCopyButNeverItself) {
  // The process list names this copy first: the other one is still the one that goes.
  RecordingSystem s;
  s.existingMarkers = {{"zivraBrowserServer.exe", 1}, {"zivraBrowserTool.exe", 1}};
  s.processes["zivraBrowserTool.exe"] = {s.self, 41};
  RunStartup(s);
  EXPECT_THAT(s.calls,
              ElementsAre("published", "marker zivraBrowserServer.exe", "terminate zivraBrowserServer.exe",
                          "marker zivraBrowserTool.exe", "find zivraBrowserTool.exe except 500", "terminate id 41",
                          "compare 0180", "find zivraBrowserServer.exe", "open zivraBrowserServer.exe"));
}

TEST(ToolStartupRule, WhenOnlyThisCopyRunsNothingIsTerminated) {
  RecordingSystem s;
  s.existingMarkers = {{"zivraBrowserTool.exe", 1}};
  s.processes["zivraBrowserTool.exe"] = {s.self};
  RunStartup(s);
  for (const auto& c : s.calls) EXPECT_FALSE(c.starts_with("terminate")) << c;
}

TEST(ToolStartupRule, ANewerPublishedVersionIsAnnouncedBeforeTheServerStarts) {
  RecordingSystem s;
  s.published = "0181";
  s.newer = 1;
  RunStartup(s);
  EXPECT_THAT(s.calls, ElementsAre("published", "marker zivraBrowserServer.exe", "marker zivraBrowserTool.exe",
                                   "compare 0181", std::string("message ") + std::string(text::UpdateAvailable),
                                   "find zivraBrowserServer.exe", "open zivraBrowserServer.exe"));
}

TEST(ToolStartupRule, AnUnreachableUpdateHostShowsNothing) {
  RecordingSystem s;
  s.published = "";
  RunStartup(s);
  EXPECT_THAT(s.calls, ::testing::Contains("compare "));
  for (const auto& c : s.calls) EXPECT_FALSE(c.starts_with("message")) << c;
}

TEST(ToolTray, MenuHasTheFourItemsInOrder) {
  std::vector<std::string> labels;
  std::vector<int> ids;
  for (const TrayItem& item : TrayMenu()) {
    labels.emplace_back(item.label);
    ids.push_back(static_cast<int>(item.command));
  }
  EXPECT_THAT(labels, ElementsAre("開啟程式", "關閉程式", "重啟程式", "About"));
  EXPECT_THAT(ids, ElementsAre(32778, 32779, 32780, 104));
}

class RecordingAbout : public AboutBox {
 public:
  explicit RecordingAbout(std::vector<std::string>& calls) : calls_(calls) {}
  void Show() override { calls_.push_back("about"); }

 private:
  std::vector<std::string>& calls_;
};

TEST(ToolTray, CommandsOpenTheDialogEndOrRestartTheToolAndShowAbout) {
  RecordingSystem s;
  RecordingFactory f(s.calls);
  ControlDialog dialog(s, f);
  RecordingAbout about(s.calls);
  RunTrayCommand(TrayCommand::Open, s, dialog, about);
  RunTrayCommand(TrayCommand::About, s, dialog, about);
  RunTrayCommand(TrayCommand::Close, s, dialog, about);
  RunTrayCommand(TrayCommand::Restart, s, dialog, about);
  EXPECT_THAT(s.calls, ElementsAre("window1 created", "window1 buttons start=off stop=on",
                                   std::string("window1 status ") + std::string(text::SystemStarted),
                                   "window1 shown", "about", "end tool", "open zivraBrowserTool.exe", "pause 1000",
                                   "end tool"));
  // Ending the tool never touches the server.
  for (const auto& c : s.calls) EXPECT_EQ(c.find("zivraBrowserServer"), std::string::npos) << c;
}

}  // namespace
}  // namespace zivra::tool
