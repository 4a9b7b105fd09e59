#pragma once
// Everything the tool's decisions do outside themselves, as one small interface: the start-up
// rule, the tray commands and the control dialog are plain code over it, tested with a recording
// fake; RealToolSystem carries the calls out.
#include <chrono>
#include <string>
#include <string_view>

#include "tool/process_control.h"

namespace zivra::tool {

class ToolSystem {
 public:
  virtual ~ToolSystem() = default;

  // Version check (published text, then 1 when it is newer than the installed one).
  virtual std::string GetPublishedVersion() = 0;
  virtual int CompareVersion(const std::string& published) = 0;

  // Creates or opens the marker `name` and holds it for the rest of the process's life; true
  // when it already existed.
  virtual bool CreateMarker(std::string_view name) = 0;

  // Process control.
  virtual ProcessId FindProcessId(std::string_view name) = 0;
  virtual ProcessId FindProcessIdExcept(std::string_view name, ProcessId except) = 0;
  virtual ProcessId CurrentProcessId() = 0;
  virtual void TerminateByName(std::string_view name) = 0;
  virtual void TerminateProcessId(ProcessId id) = 0;
  virtual void OpenFromFolder(std::string_view fileName, std::string_view parameter = {}) = 0;

  // Files in the tool's folder and on the desktop.
  virtual void DeleteFromFolder(std::string_view fileName) = 0;
  virtual void CopyToDesktop(std::string_view fileName) = 0;

  virtual void SendTestGetCardID() = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;

  // A message box with the caption "zIvra"; returns when the user has closed it. UTF-8.
  virtual void ShowMessage(std::string_view text) = 0;
  // One line of module "zivraBrowserTool" in the system log. Big5 bytes.
  virtual void WriteLog(std::string_view level, std::string_view message) = 0;

  // True while the tray icon is shown by a tray host, so that the user can reach the tool.
  virtual bool TrayShown() = 0;
  // Ends the tool at once with exit code 0, its tray icon taken down first. The server keeps
  // running. Returns only in tests.
  virtual void EndTool() = 0;
};

inline constexpr std::string_view kToolModule = "zivraBrowserTool";

}  // namespace zivra::tool
