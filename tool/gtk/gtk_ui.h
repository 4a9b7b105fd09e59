#pragma once
// The tool's widgets in GTK 3 and its tray icon through Ayatana AppIndicator. They draw and
// forward clicks; what a click does is decided in ControlDialog and RunTrayCommand.
#include <functional>
#include <memory>
#include <string>

#include "tool/control_dialog.h"
#include "tool/tool_entry.h"

namespace zivra::tool::gtk {

// Opens the display and sets the look of the tool's windows (a Traditional Chinese CJK font).
// False when there is no display to open.
bool InitDisplay();

// The installed icon ("zivraBrowserTool.svg" beside the programs): window icon and tray icon.
inline constexpr const char* kIconName = "zivraBrowserTool";

class GtkDialogFactory : public DialogFactory {
 public:
  std::unique_ptr<DialogWindow> Create(ControlDialog& owner) override;
};

class GtkAboutBox : public AboutBox {
 public:
  void Show() override;

 private:
  bool showing_ = false;
};

// True when some tray host shows status icons: a StatusNotifierWatcher with a registered host on
// the session bus, or an XEmbed system tray on the X display.
bool TrayHostPresent();

class Tray {
 public:
  explicit Tray(std::function<void(TrayCommand)> onCommand);
  Tray(const Tray&) = delete;
  Tray& operator=(const Tray&) = delete;
  ~Tray();
  // Takes the icon down and makes sure the tray host has been told.
  void Remove();

 private:
  std::function<void(TrayCommand)> onCommand_;
  void* indicator_ = nullptr;  // AppIndicator*
};

}  // namespace zivra::tool::gtk
