// The process finder's rule: the first listed process whose executable name equals the wanted
// one exactly, with the programs' ".exe" names mapped to the installed names.
#include <gtest/gtest.h>

#include "tool/process_control.h"

namespace zivra::tool {
namespace {

TEST(ProcessFinder, FirstExactMatchInListOrder) {
  const std::vector<platform::ProcessEntry> list = {
      {40, "zivraBrowserServerX"}, {41, "zivrabrowserserver"}, {42, "ZivraBrowserServer"},
      {43, "zivraBrowserServe"},   {50, "zivraBrowserServer"}, {30, "zivraBrowserServer"},
      {60, "zivraBrowserServer.exe"}, {70, "zivraBrowserTool"}};
  EXPECT_EQ(FirstNamed(list, "zivraBrowserServer.exe"), 50u);  // list order, not id order
  EXPECT_EQ(FirstNamed(list, "zivraBrowserServer"), 50u);
  EXPECT_EQ(FirstNamed(list, "zivraBrowserServer.exe", 50), 30u);
  EXPECT_EQ(FirstNamed(list, "zivraBrowserTool.exe"), 70u);
  EXPECT_EQ(FirstNamed(list, "zivraBrowserTool.exe", 70), 0u);
  EXPECT_EQ(FirstNamed(list, "ZIVRABROWSERSERVER.EXE"), 0u);   // letter case counts
  EXPECT_EQ(FirstNamed(list, "zivraBrowserServer.EXE"), 0u);
  EXPECT_EQ(FirstNamed(list, "zivraBrowserServer.exe.exe"), 60u);  // one ".exe" is dropped
  EXPECT_EQ(FirstNamed(list, "zivraUpdate.exe"), 0u);
  EXPECT_EQ(FirstNamed(list, ""), 0u);
  EXPECT_EQ(FirstNamed({}, "zivraBrowserServer.exe"), 0u);
}

TEST(ProcessFinder, InstalledNames) {
  EXPECT_EQ(InstalledName(kServerExe), "zivraBrowserServer");
  EXPECT_EQ(InstalledName(kToolExe), "zivraBrowserTool");
  EXPECT_EQ(InstalledName(kUpdateExe), "zivraUpdate");
  EXPECT_EQ(InstalledName("EnvTest.html"), "EnvTest.html");
  EXPECT_EQ(InstalledName(".exe"), ".exe");
}

TEST(ProcessFinder, TheCallingProcessIsListed) {
  const std::string self = platform::ProcessExeName(CurrentProcessId());
  ASSERT_FALSE(self.empty());
  EXPECT_NE(FindProcessId(self), 0u);
  EXPECT_EQ(FindProcessIdExcept(self + "x", CurrentProcessId()), 0u);
}

}  // namespace
}  // namespace zivra::tool
