#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "platform/markers.h"
#include "tool/tool_system.h"

namespace zivra::tool {

// ToolSystem carried out for real: the update host, lock-file markers, the process list, files
// in the tool's folder (the executable's folder) and on the desktop, the local server over HTTPS,
// message boxes and the system log. The tray's state and the way the tool ends belong to the
// window layer, which hands them in.
class RealToolSystem : public ToolSystem {
 public:
  RealToolSystem();

  void SetTrayShown(std::function<bool()> trayShown) { trayShown_ = std::move(trayShown); }
  void SetEndTool(std::function<void()> endTool) { endTool_ = std::move(endTool); }

  std::string GetPublishedVersion() override;
  int CompareVersion(const std::string& published) override;
  bool CreateMarker(std::string_view name) override;
  ProcessId FindProcessId(std::string_view name) override;
  ProcessId FindProcessIdExcept(std::string_view name, ProcessId except) override;
  ProcessId CurrentProcessId() override;
  void TerminateByName(std::string_view name) override;
  void TerminateProcessId(ProcessId id) override;
  void OpenFromFolder(std::string_view fileName, std::string_view parameter) override;
  void DeleteFromFolder(std::string_view fileName) override;
  void CopyToDesktop(std::string_view fileName) override;
  void SendTestGetCardID() override;
  void Pause(std::chrono::milliseconds duration) override;
  void ShowMessage(std::string_view text) override;
  void WriteLog(std::string_view level, std::string_view message) override;
  bool TrayShown() override;
  void EndTool() override;

 private:
  LogWriter log_;
  std::vector<platform::Marker> markers_;  // held until the process ends
  std::function<bool()> trayShown_;
  std::function<void()> endTool_;
};

// Copies `source` to `folder`/`name`, replacing a file of that name: written beside it first and
// then renamed over it, so a half copy never shows and a link there is replaced, not followed.
// Makes `folder` when it is missing. False when nothing was copied.
bool CopyFileInto(const std::string& source, const std::string& folder, const std::string& name);

}  // namespace zivra::tool
