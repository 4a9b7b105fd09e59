// The control dialog's decisions: the opened state, each button's steps in order with their
// texts and log lines, and the keep flag's hide-or-end rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "resources/texts.h"
#include "tests/unit/tool_fakes.h"
#include "tool/control_dialog.h"

namespace zivra::tool {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using test::RecordingFactory;
using test::RecordingSystem;

std::string S(std::string_view a, std::string_view b = {}) { return std::string(a) + std::string(b); }

class ControlDialogLogic : public ::testing::Test {
 protected:
  // Opens a first dialog and forgets what that recorded.
  void OpenFresh() {
    dialog.Open();
    system.calls.clear();
  }

  RecordingSystem system;
  RecordingFactory factory{system.calls};
  ControlDialog dialog{system, factory};
};

TEST_F(ControlDialogLogic, OpensInTheStartedStateWhateverRuns) {
  dialog.Open();
  EXPECT_THAT(system.calls, ElementsAre("window1 created", "window1 buttons start=off stop=on",
                                        S("window1 status ", text::SystemStarted), "window1 shown"));
  EXPECT_FALSE(dialog.KeepFlag());
}

TEST_F(ControlDialogLogic, StartEndsTheServerStartsOneAndLogsAfterTheMessage) {
  OpenFresh();
  dialog.Command(DialogCommand::Start);
  EXPECT_THAT(system.calls,
              ElementsAre("terminate zivraBrowserServer.exe", "open zivraBrowserServer.exe",
                          "window1 buttons start=off stop=on", S("window1 status ", text::SystemStarted),
                          S("message ", text::SystemStarted), S("log operation ", big5::SystemStartSucceeded)));
  EXPECT_TRUE(dialog.KeepFlag());
}

TEST_F(ControlDialogLogic, StopEndsTheServerAndEnablesStart) {
  OpenFresh();
  dialog.Command(DialogCommand::Stop);
  EXPECT_THAT(system.calls,
              ElementsAre("terminate zivraBrowserServer.exe", "window1 buttons start=on stop=off",
                          S("window1 status ", text::SystemStopped), S("message ", text::SystemStopped),
                          S("log operation ", big5::SystemStopped)));
  EXPECT_TRUE(dialog.KeepFlag());
}

TEST_F(ControlDialogLogic, SystemCheckAndHelpOpenTheirDocumentsAndLog) {
  OpenFresh();
  dialog.Command(DialogCommand::SystemCheck);
  dialog.Command(DialogCommand::Help);
  EXPECT_THAT(system.calls, ElementsAre("open EnvTest.html", S("log operation ", big5::SystemTest),
                                        "open Zivra.pdf", S("log operation ", big5::SystemHelp)));
  EXPECT_FALSE(dialog.KeepFlag());  // only Start and Stop keep the dialog
}

TEST_F(ControlDialogLogic, SystemLogRunsADebugServerForOneTestRequestAndCopiesItsLog) {
  OpenFresh();
  dialog.Command(DialogCommand::SystemLog);
  EXPECT_THAT(system.calls,
              ElementsAre(S("message ", text::SystemLogNotice), "terminate zivraBrowserServer.exe",
                          "delete zivraDebug.txt", "open zivraBrowserServer.exe Debug", "test request",
                          "pause 1000", "terminate zivraBrowserServer.exe", "open zivraBrowserServer.exe",
                          "desktop zivraDebug.txt"));
  EXPECT_FALSE(dialog.KeepFlag());
}

TEST_F(ControlDialogLogic, BeforeStartOrStopClosingEndsTheDialogAndOpenBuildsANewOne) {
  for (DialogCommand close : {DialogCommand::Cancel, DialogCommand::Ok}) {
    system.calls.clear();
    dialog.Open();
    dialog.Command(DialogCommand::SystemCheck);
    dialog.Command(close);
    EXPECT_FALSE(dialog.HasDialog());
    EXPECT_EQ(system.calls.back(), "window" + std::to_string(factory.created) + " ended");
  }
  EXPECT_EQ(factory.created, 2);
}

TEST_F(ControlDialogLogic, AfterStartOrStopClosingHidesAndOpenShowsTheSameDialogAgain) {
  for (DialogCommand first : {DialogCommand::Start, DialogCommand::Stop}) {
    RecordingSystem sys;
    RecordingFactory fac(sys.calls);
    ControlDialog d(sys, fac);
    d.Open();
    d.Command(first);
    sys.calls.clear();
    d.Command(DialogCommand::Cancel);
    EXPECT_FALSE(d.Visible());
    d.Open();
    d.Command(DialogCommand::Ok);
    d.Open();
    EXPECT_THAT(sys.calls, ElementsAre("window1 hidden", "window1 shown", "window1 hidden", "window1 shown"));
    EXPECT_EQ(fac.created, 1);  // the kept dialog keeps its last status: nothing is set again
  }
}

TEST_F(ControlDialogLogic, OpenWhileOpenRaisesTheSameDialog) {
  dialog.Open();
  dialog.Open();
  EXPECT_EQ(factory.created, 1);
  EXPECT_EQ(system.calls.back(), "window1 shown");
}

TEST_F(ControlDialogLogic, WithoutATrayClosingTheDialogEndsTheTool) {
  system.tray = false;
  OpenFresh();
  dialog.Command(DialogCommand::Stop);
  system.calls.clear();
  dialog.Command(DialogCommand::Cancel);
  EXPECT_THAT(system.calls, ElementsAre("window1 hidden", "end tool"));
}

TEST_F(ControlDialogLogic, ACommandWhileAnotherWaitsForItsMessageIsDropped) {
  OpenFresh();
  system.whileMessageShown = [this] {
    system.whileMessageShown = nullptr;
    dialog.Command(DialogCommand::Stop);
    dialog.Command(DialogCommand::Cancel);
  };
  dialog.Command(DialogCommand::Start);
  const std::vector<std::string> expected = {
      "terminate zivraBrowserServer.exe", "open zivraBrowserServer.exe", "window1 buttons start=off stop=on",
      S("window1 status ", text::SystemStarted), S("message ", text::SystemStarted),
      S("log operation ", big5::SystemStartSucceeded)};
  EXPECT_THAT(system.calls, ElementsAreArray(expected));
  EXPECT_TRUE(dialog.Visible());
}

}  // namespace
}  // namespace zivra::tool
