#pragma once
// A ToolSystem and dialog windows that record what the tool's logic asks of them, in order.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tool/control_dialog.h"
#include "tool/tool_entry.h"
#include "tool/tool_system.h"

namespace zivra::tool::test {

class RecordingSystem : public ToolSystem {
 public:
  std::string GetPublishedVersion() override {
    calls.push_back("published");
    return published;
  }
  int CompareVersion(const std::string& text) override {
    calls.push_back("compare " + text);
    return newer;
  }
  bool CreateMarker(std::string_view name) override {
    calls.push_back("marker " + std::string(name));
    return existingMarkers.count(std::string(name)) != 0;
  }
  ProcessId FindProcessId(std::string_view name) override {
    calls.push_back("find " + std::string(name));
    const auto& list = processes[std::string(name)];
    return list.empty() ? 0 : list.front();
  }
  ProcessId FindProcessIdExcept(std::string_view name, ProcessId except) override {
    calls.push_back("find " + std::string(name) + " except " + std::to_string(except));
    for (ProcessId id : processes[std::string(name)]) {
      if (id != except) return id;
    }
    return 0;
  }
  ProcessId CurrentProcessId() override { return self; }
  void TerminateByName(std::string_view name) override { calls.push_back("terminate " + std::string(name)); }
  void TerminateProcessId(ProcessId id) override { calls.push_back("terminate id " + std::to_string(id)); }
  void OpenFromFolder(std::string_view fileName, std::string_view parameter) override {
    calls.push_back("open " + std::string(fileName) + (parameter.empty() ? "" : " " + std::string(parameter)));
  }
  void DeleteFromFolder(std::string_view fileName) override { calls.push_back("delete " + std::string(fileName)); }
  void CopyToDesktop(std::string_view fileName) override { calls.push_back("desktop " + std::string(fileName)); }
  void SendTestGetCardID() override { calls.push_back("test request"); }
  void Pause(std::chrono::milliseconds d) override { calls.push_back("pause " + std::to_string(d.count())); }
  void ShowMessage(std::string_view text) override {
    calls.push_back("message " + std::string(text));
    if (whileMessageShown) whileMessageShown();
  }
  void WriteLog(std::string_view level, std::string_view message) override {
    calls.push_back("log " + std::string(level) + " " + std::string(message));
  }
  bool TrayShown() override { return tray; }
  void EndTool() override { calls.push_back("end tool"); }

  std::vector<std::string> calls;
  std::string published = "0180";
  int newer = 0;
  std::map<std::string, int> existingMarkers;  // names that exist already
  std::map<std::string, std::vector<ProcessId>> processes;
  ProcessId self = 500;
  bool tray = true;
  std::function<void()> whileMessageShown;
};

// Windows made by RecordingFactory write into the same call list, named "window<N>".
class RecordingFactory : public DialogFactory {
 public:
  explicit RecordingFactory(std::vector<std::string>& calls) : calls_(calls) {}
  std::unique_ptr<DialogWindow> Create(ControlDialog&) override;
  int created = 0;

 private:
  std::vector<std::string>& calls_;
};

class RecordingWindow : public DialogWindow {
 public:
  RecordingWindow(std::vector<std::string>& calls, std::string name)
      : calls_(calls), name_(std::move(name)) {
    calls_.push_back(name_ + " created");
  }
  ~RecordingWindow() override { calls_.push_back(name_ + " ended"); }
  void SetButtons(bool start, bool stop) override {
    calls_.push_back(name_ + " buttons start=" + (start ? "on" : "off") + " stop=" + (stop ? "on" : "off"));
  }
  void SetStatus(std::string_view text) override { calls_.push_back(name_ + " status " + std::string(text)); }
  void Show() override { calls_.push_back(name_ + " shown"); }
  void Hide() override { calls_.push_back(name_ + " hidden"); }

 private:
  std::vector<std::string>& calls_;
  std::string name_;
};

inline std::unique_ptr<DialogWindow> RecordingFactory::Create(ControlDialog&) {
  return std::make_unique<RecordingWindow>(calls_, "window" + std::to_string(++created));
}

}  // namespace zivra::tool::test
