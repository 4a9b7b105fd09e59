#pragma once
// A scratch installation whose programs run in a process-id namespace of the test's own, with a
// home, a runtime folder (the tool's markers) and a desktop of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/pid_namespace.h"
#include "tests/support/process.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {

class ToolFixture : public ::testing::Test {
 protected:
  ToolFixture();
  // After a failure, shows what the programs wrote to their standard output and error.
  void TearDown() override;

  // The environment of a program of the installation: no display and no session bus unless
  // `extra` gives them; documents are opened by a recording stand-in for xdg-open.
  std::map<std::string, std::string> Env(const std::map<std::string, std::string>& extra = {}) const;
  // Starts a program of the installation (or another program) inside the namespace.
  Process Start(const std::string& program, const std::vector<std::string>& args = {},
                const std::map<std::string, std::string>& extra = {}, const std::string& outputName = "");
  Process StartTool(const std::map<std::string, std::string>& extra = {}, const std::string& outputName = "tool") {
    return Start(install_.Program("zivraBrowserTool"), {}, extra, outputName);
  }

  std::vector<pid_t> Servers() const { return ns_.Find("zivraBrowserServer"); }
  std::vector<pid_t> Tools() const { return ns_.Find("zivraBrowserTool"); }
  // Waits until exactly one server runs and listens; its id, or 0.
  pid_t WaitForOneListeningServer(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // The command line of `pid`, its arguments joined by blanks.
  static std::string CommandLine(pid_t pid);

  std::string SysLog() const { return ReadFile(install_.File("SysLog.txt")); }
  // Every line of the system log written by the tool, without its time stamp.
  std::vector<std::string> ToolLogLines() const;
  // What the recording xdg-open was asked to open, one line each.
  std::string Opened() const { return ReadFile(home_.Path() / "opened.txt"); }
  std::filesystem::path DesktopFolder() const { return home_.Path() / "Schreibtisch"; }

  ScratchInstall install_;
  ScratchDir home_{"zivra-home"};
  PidNamespace ns_;
};

// "[module]:level:" + message, the part of a log line after its time stamp.
std::string LogEntry(std::string_view module, std::string_view level, std::string_view message);

}  // namespace zivra::test
