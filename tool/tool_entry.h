#pragma once
// The tool's start-up rule and its tray commands, over ToolSystem.
#include <array>
#include <string_view>

#include "tool/control_dialog.h"
#include "tool/tool_system.h"

namespace zivra::tool {

// The start-up steps before any window exists, in this order: fetch the published version;
// the server marker (when it existed, another copy is in charge: its server is ended); the tool
// marker (when it existed, the other copy is ended, never this one); compare the versions; the
// update notice when a newer one is published; a server started when none runs.
void RunStartup(ToolSystem& system);

enum class TrayCommand {
  Open = 32778,     // "開啟程式"
  Close = 32779,    // "關閉程式"
  Restart = 32780,  // "重啟程式"
  About = 104,      // "About"
};

struct TrayItem {
  TrayCommand command;
  std::string_view label;  // UTF-8
};

// The tray menu, top to bottom.
const std::array<TrayItem, 4>& TrayMenu();

class AboutBox {
 public:
  virtual ~AboutBox() = default;
  // Shows the About box and returns when it is closed.
  virtual void Show() = 0;
};

// Carries out a tray command.
void RunTrayCommand(TrayCommand command, ToolSystem& system, ControlDialog& dialog, AboutBox& about);

}  // namespace zivra::tool
