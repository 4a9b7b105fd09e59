#include "tool/control_dialog.h"

#include "common/log_writer.h"
#include "resources/texts.h"

namespace zivra::tool {

void ControlDialog::Open() {
  if (window_ == nullptr) {
    window_ = factory_.Create(*this);
    if (window_ == nullptr) return;
    ShowStarted();  // every new dialog opens in the started state, whatever runs
  }
  window_->Show();
  visible_ = true;
}

void ControlDialog::ShowStarted() {
  window_->SetButtons(false, true);
  window_->SetStatus(text::SystemStarted);
}

void ControlDialog::SetKeep() { keep_ = true; }

void ControlDialog::Close(DialogCommand) {
  if (keep_) {
    window_->Hide();
    visible_ = false;
  } else {
    window_.reset();
    visible_ = false;
  }
  // Without a tray icon nothing would lead back to the tool: closing its only window ends it.
  if (!system_.TrayShown()) system_.EndTool();
}

void ControlDialog::RunSystemLog() {
  system_.ShowMessage(text::SystemLogNotice);
  system_.TerminateByName(kServerExe);
  // Removed before the debug server starts, so that the copy holds exactly that server's lines
  // and the removal never races its first writes.
  system_.DeleteFromFolder(kDebugLogName);
  system_.OpenFromFolder(kServerExe, "Debug");
  system_.SendTestGetCardID();
  system_.Pause(std::chrono::milliseconds(1000));
  system_.TerminateByName(kServerExe);
  system_.OpenFromFolder(kServerExe);
  system_.CopyToDesktop(kDebugLogName);
}

void ControlDialog::Command(DialogCommand command) {
  // A command that arrives while another one waits for a message box or the server is dropped.
  if (busy_ || window_ == nullptr) return;
  busy_ = true;
  switch (command) {
    case DialogCommand::Start:
      SetKeep();
      system_.TerminateByName(kServerExe);
      system_.OpenFromFolder(kServerExe);
      window_->SetButtons(false, true);
      window_->SetStatus(text::SystemStarted);
      system_.ShowMessage(text::SystemStarted);
      system_.WriteLog("operation", big5::SystemStartSucceeded);
      break;
    case DialogCommand::Stop:
      SetKeep();
      system_.TerminateByName(kServerExe);
      window_->SetButtons(true, false);
      window_->SetStatus(text::SystemStopped);
      system_.ShowMessage(text::SystemStopped);
      system_.WriteLog("operation", big5::SystemStopped);
      break;
    case DialogCommand::SystemCheck:
      system_.OpenFromFolder("EnvTest.html");
      system_.WriteLog("operation", big5::SystemTest);
      break;
    case DialogCommand::SystemLog:
      RunSystemLog();
      break;
    case DialogCommand::Help:
      system_.OpenFromFolder("Zivra.pdf");
      system_.WriteLog("operation", big5::SystemHelp);
      break;
    case DialogCommand::Ok:
    case DialogCommand::Cancel:
      busy_ = false;
      Close(command);
      return;
  }
  busy_ = false;
}

}  // namespace zivra::tool
