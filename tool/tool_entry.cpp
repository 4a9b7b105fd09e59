#include "tool/tool_entry.h"

#include "resources/texts.h"

namespace zivra::tool {

void RunStartup(ToolSystem& system) {
  const std::string published = system.GetPublishedVersion();
  if (system.CreateMarker(kServerExe)) system.TerminateByName(kServerExe);
  if (system.CreateMarker(kToolExe)) {
    // The copy that ran before this one; this copy never ends itself.
    const ProcessId other = system.FindProcessIdExcept(kToolExe, system.CurrentProcessId());
    if (other != 0) system.TerminateProcessId(other);
  }
  const int newer = system.CompareVersion(published);
  if (newer == 1) system.ShowMessage(text::UpdateAvailable);
  if (system.FindProcessId(kServerExe) == 0) system.OpenFromFolder(kServerExe);
}

const std::array<TrayItem, 4>& TrayMenu() {
  static const std::array<TrayItem, 4> items{{{TrayCommand::Open, text::MenuOpen},
                                              {TrayCommand::Close, text::MenuClose},
                                              {TrayCommand::Restart, text::MenuRestart},
                                              {TrayCommand::About, "About"}}};
  return items;
}

void RunTrayCommand(TrayCommand command, ToolSystem& system, ControlDialog& dialog, AboutBox& about) {
  switch (command) {
    case TrayCommand::Open:
      dialog.Open();
      break;
    case TrayCommand::Close:
      system.EndTool();
      break;
    case TrayCommand::Restart:
      system.OpenFromFolder(kToolExe);
      system.Pause(std::chrono::milliseconds(1000));
      system.EndTool();
      break;
    case TrayCommand::About:
      about.Show();
      break;
  }
}

}  // namespace zivra::tool
