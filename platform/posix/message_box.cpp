#include "platform/message_box.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace zivra::platform {

void ShowMessageBox(std::string_view text) {
  const std::string message(text);
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "zIvra: %s\n", message.c_str());
    std::fflush(stderr);
    return;
  }
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK,
                                             "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "zIvra");
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // Let the window system take the dialog down before the caller goes on (or exits).
  while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace zivra::platform
