#pragma once
// The control dialog: start and stop the server, the test page, the debug log on the desktop,
// the help document. The decisions live here; a DialogWindow only draws and forwards clicks.
#include <memory>
#include <string_view>

#include "tool/tool_system.h"

namespace zivra::tool {

enum class DialogCommand {
  Ok = 1,
  Cancel = 2,  // Esc and the caption's close box
  Stop = 1000,
  SystemLog = 1001,
  Start = 1002,
  SystemCheck = 1003,
  Help = 1008,
};

// One control dialog on the screen.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void SetButtons(bool startEnabled, bool stopEnabled) = 0;
  virtual void SetStatus(std::string_view text) = 0;  // UTF-8
  virtual void Show() = 0;                            // shows it, or raises it when shown
  virtual void Hide() = 0;
};

class ControlDialog;

class DialogFactory {
 public:
  virtual ~DialogFactory() = default;
  // A new dialog, not yet shown, that forwards its commands to `owner.Command`.
  virtual std::unique_ptr<DialogWindow> Create(ControlDialog& owner) = 0;
};

class ControlDialog {
 public:
  ControlDialog(ToolSystem& system, DialogFactory& factory) : system_(system), factory_(factory) {}

  // The tray item "開啟程式": shows the kept dialog, raises the one that is open, or builds a new
  // one in the opened state.
  void Open();
  // A command of the open dialog.
  void Command(DialogCommand command);

  bool KeepFlag() const { return keep_; }
  bool HasDialog() const { return window_ != nullptr; }
  bool Visible() const { return window_ != nullptr && visible_; }

 private:
  void SetKeep();
  void Close(DialogCommand command);
  void ShowStarted();
  void RunSystemLog();

  ToolSystem& system_;
  DialogFactory& factory_;
  std::unique_ptr<DialogWindow> window_;  // the open dialog; the kept dialog once keep_ is set
  bool visible_ = false;
  bool keep_ = false;
  bool busy_ = false;
};

}  // namespace zivra::tool
