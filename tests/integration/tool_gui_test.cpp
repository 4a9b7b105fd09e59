// The real tool on a desktop of the test's own (Xvfb, a session bus, a tray host or none): its
// server, its windows, its tray menu as a tray host sees it over the bus, the take-over by a
// second copy and the update notice. Screenshots go into <build>/screenshots.
#include <gmock/gmock.h>

#include "resources/texts.h"
#include "tests/integration/tool_desktop.h"
#include "tests/integration/tool_fixture.h"
#include "tests/support/update_host.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ToolOnDesktop : public ToolFixture {
 protected:
  ToolOnDesktop() : desktop_(home_.Path()) { std::filesystem::create_directories(ShotFolder()); }

  static std::filesystem::path ShotFolder() { return std::filesystem::path(ZIVRA_BINARY_DIR) / "screenshots"; }

  Process StartOnDesktop(const std::string& outputName = "tool") { return StartTool(desktop_.Env(), outputName); }

  // The tool process (as the test sees it) once exactly one runs, or 0.
  pid_t WaitForOneTool(pid_t other = 0) {
    pid_t pid = 0;
    WaitUntil(
        [&] {
          const auto tools = Tools();
          pid = tools.size() == 1 && tools.front() != other ? tools.front() : 0;
          return pid != 0;
        },
        20s);
    return pid;
  }

  // The tool's connection on the bus, once its tray icon is exported.
  std::string WaitForTray(pid_t tool) {
    std::string name;
    WaitUntil(
        [&] {
          name = desktop_.BusNameOf(tool);
          return !name.empty() && desktop_.TrayMenu(name).size() == 4;
        },
        20s);
    return name;
  }

  int MenuId(const std::string& busName, std::string_view label) {
    for (const auto& item : desktop_.TrayMenu(busName)) {
      if (item.label == label) return item.id;
    }
    ADD_FAILURE() << "no tray item " << label;
    return -1;
  }

  Desktop desktop_;
};

TEST_F(ToolOnDesktop, WithoutATrayHostTheDialogOpensAtStartAndClosingItEndsTheTool) {
  Process tool = StartOnDesktop();
  const pid_t server = WaitForOneListeningServer();
  ASSERT_NE(server, 0);
  const pid_t toolPid = WaitForOneTool();
  ASSERT_NE(toolPid, 0);

  // The tray icon as a tray host would see it: tip and menu.
  const std::string bus = WaitForTray(toolPid);
  ASSERT_FALSE(bus.empty());
  EXPECT_EQ(desktop_.TrayTitle(bus), text::TrayTip);
  std::vector<std::string> labels;
  for (const auto& item : desktop_.TrayMenu(bus)) {
    labels.push_back(item.label);
    EXPECT_TRUE(item.enabled) << item.label;
  }
  EXPECT_THAT(labels, ElementsAre("開啟程式", "關閉程式", "重啟程式", "About"));

  // No tray host runs here, so the tool opened its control dialog itself.
  const unsigned long dialog = desktop_.WaitForWindow(std::string(text::ToolTitle), 20s);
  ASSERT_NE(dialog, 0u);
  std::this_thread::sleep_for(500ms);  // let it finish drawing
  EXPECT_TRUE(desktop_.Screenshot(dialog, (ShotFolder() / "control_dialog.png").string()));

  desktop_.ClickTrayItem(bus, MenuId(bus, "About"));
  const unsigned long about = desktop_.WaitForWindow(std::string(text::AboutTool), 20s);
  ASSERT_NE(about, 0u);
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(desktop_.Screenshot(about, (ShotFolder() / "about_box.png").string()));
  desktop_.Close(about);
  EXPECT_TRUE(WaitUntil([&] { return desktop_.Windows(std::string(text::AboutTool)).empty(); }, 10s));
  EXPECT_TRUE(tool.Running());

  // Its only window closed, nothing would lead back to the tool: it ends, the server lives on.
  desktop_.Close(dialog);
  EXPECT_EQ(tool.Wait(20s), std::optional<int>(0));
  EXPECT_THAT(Servers(), ElementsAre(server));
  EXPECT_THAT(ToolLogLines(), IsEmpty());  // a window was made: no initialisation error
}

TEST_F(ToolOnDesktop, WithATrayHostTheIconRegistersAndItsMenuRunsTheTool) {
  desktop_.HostTray();
  Process tool = StartOnDesktop();
  const pid_t server = WaitForOneListeningServer();
  ASSERT_NE(server, 0);
  const pid_t toolPid = WaitForOneTool();
  const std::string bus = WaitForTray(toolPid);
  ASSERT_FALSE(bus.empty());
  EXPECT_TRUE(WaitUntil([&] { return desktop_.RegisteredTrayItems().size() == 1; }, 20s));
  EXPECT_THAT(desktop_.RegisteredTrayItems(), ElementsAre(::testing::StartsWith(bus)));
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(desktop_.Windows(std::string(text::ToolTitle)).empty());  // the icon is the way in

  // Before Start or Stop, closing the dialog ends it; "開啟程式" builds it anew.
  desktop_.ClickTrayItem(bus, MenuId(bus, "開啟程式"));
  unsigned long dialog = desktop_.WaitForWindow(std::string(text::ToolTitle), 20s);
  ASSERT_NE(dialog, 0u);
  desktop_.Close(dialog);
  EXPECT_TRUE(WaitUntil([&] { return desktop_.Windows(std::string(text::ToolTitle)).empty(); }, 10s));
  EXPECT_TRUE(tool.Running());
  desktop_.ClickTrayItem(bus, MenuId(bus, "開啟程式"));
  dialog = desktop_.WaitForWindow(std::string(text::ToolTitle), 20s);
  EXPECT_NE(dialog, 0u);

  // "關閉程式" ends the tool with exit code 0; the server lives on.
  desktop_.ClickTrayItem(bus, MenuId(bus, "關閉程式"));
  EXPECT_EQ(tool.Wait(20s), std::optional<int>(0));
  EXPECT_THAT(Tools(), IsEmpty());
  EXPECT_THAT(Servers(), ElementsAre(server));
}

TEST_F(ToolOnDesktop, ASecondCopyEndsTheServerAndTheFirstCopyAndStartsAServer) {
  Process first = StartOnDesktop("first");
  const pid_t firstServer = WaitForOneListeningServer();
  ASSERT_NE(firstServer, 0);
  const pid_t firstTool = WaitForOneTool();
  ASSERT_FALSE(WaitForTray(firstTool).empty());  // the first copy is past its start-up

  Process second = StartOnDesktop("second");
  EXPECT_TRUE(first.Wait(20s).has_value()) << "the first copy still runs";
  const pid_t secondTool = WaitForOneTool(firstTool);
  EXPECT_NE(secondTool, 0);
  const pid_t secondServer = WaitForOneListeningServer();
  EXPECT_NE(secondServer, 0);
  EXPECT_NE(secondServer, firstServer);
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(second.Running());
  EXPECT_EQ(Tools().size(), 1u);
  EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(ToolOnDesktop, RestartLeavesOneNewCopyAndAServer) {
  Process tool = StartOnDesktop("first");
  ASSERT_NE(WaitForOneListeningServer(), 0);
  const pid_t oldTool = WaitForOneTool();
  const std::string bus = WaitForTray(oldTool);
  ASSERT_FALSE(bus.empty());
  desktop_.ClickTrayItem(bus, MenuId(bus, "重啟程式"));
  EXPECT_TRUE(tool.Wait(20s).has_value());
  const pid_t newTool = WaitForOneTool(oldTool);
  EXPECT_NE(newTool, 0);
  EXPECT_FALSE(WaitForTray(newTool).empty());
  EXPECT_NE(WaitForOneListeningServer(), 0);
}

TEST_F(ToolOnDesktop, TheUpdateNoticeComesBeforeTheServerStarts) {
  if (!UpdateHostConfigured()) GTEST_SKIP() << "this build does not use the tests' update host";
  UpdateHost host;
  host.Serve("/zivra_reader/CurVersion.txt", "0181\r\nzivraBrowserTool.zip");
  WriteFile(install_.File("Version.txt"), "0180");
  Process tool = StartOnDesktop();

  const unsigned long notice = desktop_.WaitForWindow("zIvra", 30s);
  ASSERT_NE(notice, 0u) << ReadFile(home_.Path() / "tool.err");
  std::this_thread::sleep_for(1s);  // while the notice is up, nothing else happens
  EXPECT_THAT(Servers(), IsEmpty());
  EXPECT_TRUE(desktop_.Windows(std::string(text::ToolTitle)).empty());
  EXPECT_TRUE(desktop_.Screenshot(notice, (ShotFolder() / "update_notice.png").string()));

  desktop_.Close(notice);
  EXPECT_NE(WaitForOneListeningServer(), 0);
  EXPECT_NE(desktop_.WaitForWindow(std::string(text::ToolTitle), 20s), 0u);
  EXPECT_TRUE(tool.Running());
}

}  // namespace
}  // namespace zivra::test
