// zivraBrowserTool: keeps a server running, tells the user about a newer release, and offers the
// tray menu and the control dialog. The command line is ignored.
#include <gtk/gtk.h>

#include "common/log_writer.h"
#include "resources/texts.h"
#include "tool/control_dialog.h"
#include "tool/gtk/gtk_ui.h"
#include "tool/real_tool_system.h"
#include "tool/tool_entry.h"

int main() {
  using namespace zivra;
  using namespace zivra::tool;
  RealToolSystem system;
  // The display is opened first so that the update notice already has the tool's look; the
  // start-up steps run the same whether it opened or not.
  const bool display = gtk::InitDisplay();
  RunStartup(system);
  if (!display) {
    LogWriter{}.WriteLog(kToolModule, "error", big5::ToolInitFailed, kSystemLog);
    return 0;
  }

  gtk::GtkDialogFactory factory;
  ControlDialog dialog(system, factory);
  gtk::GtkAboutBox about;
  gtk::Tray tray([&](TrayCommand command) { RunTrayCommand(command, system, dialog, about); });
  system.SetTrayShown(&gtk::TrayHostPresent);
  system.SetEndTool([&tray] { tray.Remove(); });
  // Without any tray host the icon cannot be seen: the dialog is the user's way in.
  if (!gtk::TrayHostPresent()) dialog.Open();
  gtk_main();
  return 0;
}
