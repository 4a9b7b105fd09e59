#include "tool/gtk/gtk_ui.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "platform/exe_folder.h"
#include "resources/texts.h"

namespace zivra::tool::gtk {
namespace {

// Glyphs of the Traditional Chinese forms, whatever the locale; other fonts only as fall-back.
constexpr const char* kCss =
    "window.zivra, window.zivra label, window.zivra button {"
    "  font-family: \"Noto Sans CJK TC\", \"Noto Sans TC\", sans-serif; }"
    "window.zivra-control { font-size: 12pt; }"
    "window.zivra-control button { min-width: 120px; min-height: 40px; }"
    "window.zivra-about { font-size: 9pt; }";

std::string IconFile() { return platform::ExecutableFolder() + kIconName + ".svg"; }

std::string Text(std::string_view t) { return std::string(t); }

class GtkDialogWindow : public DialogWindow {
 public:
  explicit GtkDialogWindow(ControlDialog& owner) : owner_(owner) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkStyleContext* style = gtk_widget_get_style_context(window_);
    gtk_style_context_add_class(style, "zivra");
    gtk_style_context_add_class(style, "zivra-control");
    gtk_window_set_title(GTK_WINDOW(window_), Text(text::ToolTitle).c_str());
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkDialogWindow::OnDelete), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkDialogWindow::OnKey), this);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 14);
    gtk_container_set_border_width(GTK_CONTAINER(column), 28);
    gtk_container_add(GTK_CONTAINER(window_), column);

    GtkWidget* statusRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(statusRow), gtk_label_new(Text(text::SystemState).c_str()), FALSE, FALSE, 0);
    status_ = gtk_label_new("");
    gtk_box_pack_start(GTK_BOX(statusRow), status_, FALSE, FALSE, 0);
    gtk_widget_set_halign(statusRow, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(column), statusRow, FALSE, FALSE, 4);

    start_ = AddButton(column, text::StartComponent, DialogCommand::Start);
    stop_ = AddButton(column, text::StopComponent, DialogCommand::Stop);
    AddButton(column, text::SystemCheck, DialogCommand::SystemCheck);
    AddButton(column, text::SystemLog, DialogCommand::SystemLog);
    AddButton(column, text::HelpDocument, DialogCommand::Help);
    gtk_widget_show_all(column);
  }

  ~GtkDialogWindow() override { gtk_widget_destroy(window_); }

  void SetButtons(bool startEnabled, bool stopEnabled) override {
    gtk_widget_set_sensitive(start_, startEnabled ? TRUE : FALSE);
    gtk_widget_set_sensitive(stop_, stopEnabled ? TRUE : FALSE);
  }
  void SetStatus(std::string_view t) override { gtk_label_set_text(GTK_LABEL(status_), Text(t).c_str()); }
  void Show() override {
    gtk_widget_show(window_);
    gtk_window_present(GTK_WINDOW(window_));
  }
  void Hide() override { gtk_widget_hide(window_); }

 private:
  struct Binding {
    GtkDialogWindow* self;
    DialogCommand command;
  };

  GtkWidget* AddButton(GtkWidget* column, std::string_view label, DialogCommand command) {
    GtkWidget* button = gtk_button_new_with_label(Text(label).c_str());
    gtk_widget_set_halign(button, GTK_ALIGN_CENTER);
    bindings_.push_back(std::make_unique<Binding>(Binding{this, command}));
    g_signal_connect(button, "clicked", G_CALLBACK(&GtkDialogWindow::OnClicked), bindings_.back().get());
    gtk_box_pack_start(GTK_BOX(column), button, FALSE, FALSE, 0);
    return button;
  }

  // The handlers touch nothing of the window after forwarding: the command may end it.
  static void OnClicked(GtkButton*, gpointer data) {
    const auto* b = static_cast<Binding*>(data);
    b->self->owner_.Command(b->command);
  }
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<GtkDialogWindow*>(data)->owner_.Command(DialogCommand::Cancel);
    return TRUE;  // the dialog logic decides whether the window goes
  }
  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<GtkDialogWindow*>(data)->owner_.Command(DialogCommand::Cancel);
    return TRUE;
  }

  ControlDialog& owner_;
  GtkWidget* window_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* start_ = nullptr;
  GtkWidget* stop_ = nullptr;
  std::vector<std::unique_ptr<Binding>> bindings_;
};

bool SessionBusConfigured() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return false;
  struct stat st {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool StatusNotifierHostPresent() {
  // Without a configured bus GLib would try to launch one; the tray cannot work then anyway.
  if (!SessionBusConfigured()) return false;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  bool present = false;
  GVariant* owned = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", "org.kde.StatusNotifierWatcher"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
      2000, nullptr, nullptr);
  if (owned != nullptr) {
    gboolean has = FALSE;
    g_variant_get(owned, "(b)", &has);
    g_variant_unref(owned);
    if (has) {
      GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties",
          "Get", g_variant_new("(ss)", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"),
          G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
      if (reply != nullptr) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        present = value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                  g_variant_get_boolean(value);
        if (value != nullptr) g_variant_unref(value);
        g_variant_unref(reply);
      }
    }
  }
  g_object_unref(bus);
  return present;
}

bool XEmbedTrayPresent() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(x));
  const Atom selection = XInternAtom(x, name.c_str(), False);
  return XGetSelectionOwner(x, selection) != None;
}

}  // namespace

bool InitDisplay() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  gtk_window_set_default_icon_from_file(IconFile().c_str(), nullptr);
  return true;
}

std::unique_ptr<DialogWindow> GtkDialogFactory::Create(ControlDialog& owner) {
  return std::make_unique<GtkDialogWindow>(owner);
}

void GtkAboutBox::Show() {
  if (showing_) return;  // already on the screen, in the loop below
  showing_ = true;
  GtkWidget* dialog = gtk_dialog_new();
  GtkStyleContext* style = gtk_widget_get_style_context(dialog);
  gtk_style_context_add_class(style, "zivra");
  gtk_style_context_add_class(style, "zivra-about");
  gtk_window_set_title(GTK_WINDOW(dialog), Text(text::AboutTool).c_str());
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 14);
  gtk_container_set_border_width(GTK_CONTAINER(row), 16);
  GdkPixbuf* icon = gdk_pixbuf_new_from_file_at_size(IconFile().c_str(), 32, 32, nullptr);
  GtkWidget* image = icon != nullptr ? gtk_image_new_from_pixbuf(icon) : gtk_image_new();
  if (icon != nullptr) g_object_unref(icon);
  gtk_widget_set_valign(image, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  GtkWidget* line = gtk_label_new(Text(text::AboutToolLine).c_str());
  gtk_widget_set_valign(line, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(row), line, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);

  GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(dialog), Text(text::Ok).c_str(), GTK_RESPONSE_OK);
  gtk_widget_set_can_default(ok, TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_grab_focus(ok);
  gtk_widget_show_all(dialog);
  gtk_dialog_run(GTK_DIALOG(dialog));  // OK, Esc and the close box all end it
  gtk_widget_destroy(dialog);
  showing_ = false;
}

bool TrayHostPresent() { return StatusNotifierHostPresent() || XEmbedTrayPresent(); }

namespace {
struct MenuBinding {
  Tray* tray;
  TrayCommand command;
};
}  // namespace

Tray::Tray(std::function<void(TrayCommand)> onCommand) : onCommand_(std::move(onCommand)) {
  if (!SessionBusConfigured()) return;  // no status notifier without a session bus
  const std::string folder = platform::ExecutableFolder();
  AppIndicator* indicator = app_indicator_new_with_path(
      "zivraBrowserTool", kIconName, APP_INDICATOR_CATEGORY_APPLICATION_STATUS, folder.c_str());
  app_indicator_set_title(indicator, Text(text::TrayTip).c_str());

  GtkWidget* menu = gtk_menu_new();
  for (const TrayItem& item : TrayMenu()) {
    GtkWidget* entry = gtk_menu_item_new_with_label(Text(item.label).c_str());
    auto* binding = new MenuBinding{this, item.command};
    g_signal_connect_data(
        entry, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
          const auto* b = static_cast<MenuBinding*>(data);
          b->tray->onCommand_(b->command);
        }),
        binding, [](gpointer data, GClosure*) { delete static_cast<MenuBinding*>(data); },
        static_cast<GConnectFlags>(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
  }
  gtk_widget_show_all(menu);
  app_indicator_set_menu(indicator, GTK_MENU(menu));
  app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
  indicator_ = indicator;
}

Tray::~Tray() { Remove(); }

void Tray::Remove() {
  if (indicator_ == nullptr) return;
  auto* indicator = static_cast<AppIndicator*>(indicator_);
  indicator_ = nullptr;
  app_indicator_set_status(indicator, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(indicator);
  // The icon's withdrawal travels over the session bus; send it before the process ends. No
  // events are dispatched here: a click waiting in the queue must not run while the tool ends.
  if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
}

}  // namespace zivra::tool::gtk
