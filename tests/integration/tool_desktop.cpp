#include "tests/integration/tool_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cairo-xlib.h>
#include <cairo.h>
#include <gio/gio.h>
#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

namespace zivra::test {
namespace {

Display* X(void* p) { return static_cast<Display*>(p); }
GDBusConnection* Bus(void* p) { return static_cast<GDBusConnection*>(p); }

std::string Utf8Title(Display* x, Window w) {
  const Atom netName = XInternAtom(x, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(x, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, rest = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(x, w, netName, 0, 1024, False, utf8, &type, &format, &count, &rest, &data) == Success &&
      data != nullptr) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return title;
}

GVariant* Call(GDBusConnection* bus, const std::string& dest, const char* path, const char* iface,
               const char* method, GVariant* args, const char* replyType) {
  return g_dbus_connection_call_sync(bus, dest.c_str(), path, iface, method, args,
                                     replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, nullptr);
}

constexpr const char* kItemPath = "/org/ayatana/NotificationItem/zivraBrowserTool";
constexpr const char* kMenuPath = "/org/ayatana/NotificationItem/zivraBrowserTool/Menu";

}  // namespace

Desktop::Desktop(const std::filesystem::path& folder) {
  const std::string prefix = (folder / "xvfb").string();
  // -displayfd: the server takes a free display number and writes it out, so tests beside each
  // other never fight over one.
  // Both servers are killed when the test process dies, even when it crashes.
  xvfb_ = Process("setpriv", Process::Options{{"--pdeathsig", "KILL", "--", "Xvfb", "-screen", "0", "1024x768x24",
                                               "-nolisten", "tcp", "-displayfd", "1"},
                                              {}, {}, "", prefix});
  WaitUntil([&] { return ReadFile(prefix + ".out").find('\n') != std::string::npos || !xvfb_.Running(); },
            std::chrono::seconds(20));
  const std::string number = ReadFile(prefix + ".out");
  if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start: " + xvfb_.Stderr());
  display_ = ":" + number.substr(0, number.find('\n'));
  // Windows come and go while the test looks at them; a request about one that just went is
  // no reason to end the test.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  x_ = XOpenDisplay(display_.c_str());
  if (x_ == nullptr) throw std::runtime_error("cannot open " + display_);

  const std::string socket = (folder / "bus").string();
  busAddress_ = "unix:path=" + socket;
  const std::string busPrefix = (folder / "dbus").string();
  // The daemon prints its address once it accepts connections.
  bus_ = Process("setpriv", Process::Options{{"--pdeathsig", "KILL", "--", "dbus-daemon", "--session", "--nofork",
                                              "--nopidfile", "--print-address=1", "--address=" + busAddress_},
                                             {}, {}, "", busPrefix});
  WaitUntil([&] { return ReadFile(busPrefix + ".out").find('\n') != std::string::npos || !bus_.Running(); },
            std::chrono::seconds(20));
  GError* error = nullptr;
  WaitUntil(
      [&] {
        if (error != nullptr) g_clear_error(&error);
        dbus_ = g_dbus_connection_new_for_address_sync(
            busAddress_.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        return dbus_ != nullptr || !bus_.Running();
      },
      std::chrono::seconds(20));
  if (dbus_ == nullptr) {
    const std::string message = error != nullptr ? error->message : "?";
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error("cannot reach the session bus: " + message);
  }
}

// A minimal StatusNotifierWatcher on a connection and main loop of its own.
struct Desktop::TrayHost {
  explicit TrayHost(const std::string& address) {
    context = g_main_context_new();
    loop = g_main_loop_new(context, FALSE);
    std::mutex m;
    std::condition_variable ready;
    bool up = false;
    thread = std::thread([&, address] {
      g_main_context_push_thread_default(context);
      bus = g_dbus_connection_new_for_address_sync(
          address.c_str(),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
      if (bus != nullptr) Export();
      {
        std::lock_guard lock(m);
        up = true;
      }
      ready.notify_one();
      g_main_loop_run(loop);
      if (bus != nullptr) g_object_unref(bus);
      g_main_context_pop_thread_default(context);
    });
    std::unique_lock lock(m);
    ready.wait(lock, [&] { return up; });
  }
  ~TrayHost() {
    g_main_loop_quit(loop);
    thread.join();
    g_main_loop_unref(loop);
    g_main_context_unref(context);
    if (info != nullptr) g_dbus_node_info_unref(info);
  }

  void Export() {
    static const char* kXml =
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
        "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
        "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
        "<property name='ProtocolVersion' type='i' access='read'/>"
        "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
        "<signal name='StatusNotifierHostRegistered'/>"
        "</interface></node>";
    info = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&TrayHost::OnCall, &TrayHost::OnGet, nullptr, {}};
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", info->interfaces[0], &vtable, this, nullptr,
                                      nullptr);
    GVariant* r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "RequestName",
                                              g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u),
                                              G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (r != nullptr) g_variant_unref(r);
  }

  static void OnCall(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<TrayHost*>(data);
    if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
      const gchar* item = nullptr;
      g_variant_get(args, "(&s)", &item);
      const std::string entry = std::string(sender) + (item[0] == '/' ? item : "");
      {
        std::lock_guard lock(self->mutex);
        self->items.push_back(entry);
      }
      g_dbus_connection_emit_signal(connection, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                    "StatusNotifierItemRegistered", g_variant_new("(s)", entry.c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  static GVariant* OnGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                         GError**, gpointer data) {
    auto* self = static_cast<TrayHost*>(data);
    if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
    if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    std::lock_guard lock(self->mutex);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
    for (const auto& i : self->items) g_variant_builder_add(&b, "s", i.c_str());
    return g_variant_builder_end(&b);
  }

  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* info = nullptr;
  std::thread thread;
  std::mutex mutex;
  std::vector<std::string> items;
};

void Desktop::HostTray() {
  if (!trayHost_) trayHost_ = std::make_unique<TrayHost>(busAddress_);
}

std::vector<std::string> Desktop::RegisteredTrayItems() {
  if (!trayHost_) return {};
  std::lock_guard lock(trayHost_->mutex);
  return trayHost_->items;
}

Desktop::~Desktop() {
  trayHost_.reset();
  if (dbus_ != nullptr) g_object_unref(Bus(dbus_));
  if (x_ != nullptr) XCloseDisplay(X(x_));
  // A terminated X server removes its lock file; a killed one would leave it behind.
  xvfb_.Signal(SIGTERM);
  xvfb_.Wait(std::chrono::seconds(5));
  bus_.Signal(SIGTERM);
  bus_.Wait(std::chrono::seconds(5));
}

std::map<std::string, std::string> Desktop::Env() const {
  return {{"DISPLAY", display_}, {"DBUS_SESSION_BUS_ADDRESS", busAddress_}};
}

std::vector<unsigned long> Desktop::Windows(const std::string& title) {
  Display* x = X(x_);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<unsigned long> found;
  if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count) == 0) return found;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes a{};
    if (XGetWindowAttributes(x, children[i], &a) == 0 || a.map_state != IsViewable) continue;
    if (Utf8Title(x, children[i]) == title) found.push_back(children[i]);
  }
  if (children != nullptr) XFree(children);
  return found;
}

unsigned long Desktop::WaitForWindow(const std::string& title, std::chrono::milliseconds timeout) {
  unsigned long window = 0;
  WaitUntil(
      [&] {
        const auto list = Windows(title);
        window = list.size() == 1 ? list.front() : 0;
        return window != 0;
      },
      timeout);
  return window;
}

bool Desktop::Screenshot(unsigned long window, const std::string& pngPath) {
  Display* x = X(x_);
  XWindowAttributes a{};
  if (XGetWindowAttributes(x, window, &a) == 0) return false;
  XWindowAttributes r{};
  XGetWindowAttributes(x, DefaultRootWindow(x), &r);
  // What the screen shows at the window's place, its border included.
  const int margin = 8;
  const int left = std::max(0, a.x - margin), top = std::max(0, a.y - margin);
  const int width = std::min(r.width - left, a.width + 2 * margin);
  const int height = std::min(r.height - top, a.height + 2 * margin);
  cairo_surface_t* screen = cairo_xlib_surface_create(x, DefaultRootWindow(x), r.visual, r.width, r.height);
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(image);
  cairo_set_source_surface(cr, screen, -left, -top);
  cairo_paint(cr);
  cairo_destroy(cr);
  const bool ok = cairo_surface_write_to_png(image, pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(image);
  cairo_surface_destroy(screen);
  return ok;
}

void Desktop::Close(unsigned long window) {
  Display* x = X(x_);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, window, False, NoEventMask, &e);
  XFlush(x);
}

std::string Desktop::BusNameOf(pid_t pid) {
  GVariant* names = Call(Bus(dbus_), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListNames", nullptr, "(as)");
  if (names == nullptr) return {};
  std::string found;
  GVariantIter* iter = nullptr;
  const gchar* name = nullptr;
  g_variant_get(names, "(as)", &iter);
  while (found.empty() && g_variant_iter_next(iter, "&s", &name)) {
    if (name[0] != ':') continue;
    GVariant* owner = Call(Bus(dbus_), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "GetConnectionUnixProcessID", g_variant_new("(s)", name), "(u)");
    if (owner == nullptr) continue;
    guint32 ownerPid = 0;
    g_variant_get(owner, "(u)", &ownerPid);
    g_variant_unref(owner);
    if (static_cast<pid_t>(ownerPid) == pid) found = name;
  }
  g_variant_iter_free(iter);
  g_variant_unref(names);
  return found;
}

std::vector<Desktop::MenuItem> Desktop::TrayMenu(const std::string& busName) {
  std::vector<MenuItem> items;
  GVariant* reply = Call(Bus(dbus_), busName, kMenuPath, "com.canonical.dbusmenu", "GetLayout",
                         g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)), "(u(ia{sv}av))");
  if (reply == nullptr) return items;
  GVariant* layout = g_variant_get_child_value(reply, 1);
  GVariant* children = g_variant_get_child_value(layout, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    MenuItem item{0, "", true};
    GVariant* props = nullptr;
    g_variant_get(child, "(i@a{sv}@av)", &item.id, &props, nullptr);
    const gchar* label = nullptr;
    if (g_variant_lookup(props, "label", "&s", &label)) item.label = label;
    gboolean enabled = TRUE;
    if (g_variant_lookup(props, "enabled", "b", &enabled)) item.enabled = enabled != FALSE;
    items.push_back(item);
    g_variant_unref(props);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(layout);
  g_variant_unref(reply);
  return items;
}

std::string Desktop::TrayTitle(const std::string& busName) {
  GVariant* reply = Call(Bus(dbus_), busName, kItemPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", "Title"), "(v)");
  if (reply == nullptr) return {};
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  std::string title = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? g_variant_get_string(value, nullptr) : "";
  g_variant_unref(value);
  g_variant_unref(reply);
  return title;
}

void Desktop::ClickTrayItem(const std::string& busName, int id) {
  // The menu's owner may run a dialog before it answers; the test looks at the outcome instead.
  g_dbus_connection_call(Bus(dbus_), busName.c_str(), kMenuPath, "com.canonical.dbusmenu", "Event",
                         g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u), nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, nullptr, nullptr);
  g_dbus_connection_flush_sync(Bus(dbus_), nullptr, nullptr);
}

}  // namespace zivra::test
