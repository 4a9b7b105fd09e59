#pragma once
// A desktop of the test's own for the tool's windows: an X display (Xvfb) and a D-Bus session
// bus, with what a user would do to them: look at the windows, close one, use the tray menu.
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace zivra::test {

class Desktop {
 public:
  // The bus socket and the programs' output go into `folder`.
  explicit Desktop(const std::filesystem::path& folder);
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;
  ~Desktop();

  // DISPLAY and DBUS_SESSION_BUS_ADDRESS for programs on this desktop.
  std::map<std::string, std::string> Env() const;

  // Top-level windows on the screen now whose title is `title`.
  std::vector<unsigned long> Windows(const std::string& title);
  // Waits until exactly one such window is shown; 0 when none came.
  unsigned long WaitForWindow(const std::string& title, std::chrono::milliseconds timeout);
  // Saves what the screen shows of `window` as PNG.
  bool Screenshot(unsigned long window, const std::string& pngPath);
  // The window manager's close request, as the caption's close box sends it.
  void Close(unsigned long window);

  // The unique bus name of the connection that process `pid` (as the test sees it) holds.
  std::string BusNameOf(pid_t pid);
  struct MenuItem {
    int id;
    std::string label;
    bool enabled;
  };
  // The tray menu and the title of the status notifier item that `busName` exports.
  std::vector<MenuItem> TrayMenu(const std::string& busName);
  std::string TrayTitle(const std::string& busName);
  // Clicks the tray menu item `id`, as a tray host does; does not wait for the outcome.
  void ClickTrayItem(const std::string& busName, int id);

  // Runs a tray host from now on: a StatusNotifierWatcher with a registered host, which keeps
  // the items that register with it.
  void HostTray();
  std::vector<std::string> RegisteredTrayItems();

 private:
  Process xvfb_;
  Process bus_;
  std::string display_;
  std::string busAddress_;
  void* x_ = nullptr;    // Display*
  void* dbus_ = nullptr; // GDBusConnection*
  struct TrayHost;
  std::unique_ptr<TrayHost> trayHost_;
};

}  // namespace zivra::test
