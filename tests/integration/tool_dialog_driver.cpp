// Runs the tool's control dialog from a test, with everything real except the widgets: process
// control, the server, files, the HTTPS request, message boxes (without a display they go to
// standard error) and the system log. Copied into an installation folder so that "the tool's
// folder" is that folder. Each argument is one user action, done in order:
//   open | start | stop | check | log | help | ok | cancel
// Each thing the dialog does to its window is printed as one line on standard output.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tool/control_dialog.h"
#include "tool/real_tool_system.h"

namespace {

using namespace zivra::tool;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

class PrintedWindow : public DialogWindow {
 public:
  explicit PrintedWindow(int n) : name_("window" + std::to_string(n)) { Say(name_ + " created"); }
  ~PrintedWindow() override { Say(name_ + " ended"); }
  void SetButtons(bool start, bool stop) override {
    Say(name_ + " buttons start=" + (start ? "on" : "off") + " stop=" + (stop ? "on" : "off"));
  }
  void SetStatus(std::string_view text) override { Say(name_ + " status " + std::string(text)); }
  void Show() override { Say(name_ + " shown"); }
  void Hide() override { Say(name_ + " hidden"); }

 private:
  std::string name_;
};

class PrintedFactory : public DialogFactory {
 public:
  std::unique_ptr<DialogWindow> Create(ControlDialog&) override { return std::make_unique<PrintedWindow>(++count_); }

 private:
  int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, DialogCommand> commands = {
      {"start", DialogCommand::Start}, {"stop", DialogCommand::Stop},   {"check", DialogCommand::SystemCheck},
      {"log", DialogCommand::SystemLog}, {"help", DialogCommand::Help}, {"ok", DialogCommand::Ok},
      {"cancel", DialogCommand::Cancel}};
  RealToolSystem system;
  system.SetTrayShown([] { return true; });
  PrintedFactory factory;
  ControlDialog dialog(system, factory);
  for (int i = 1; i < argc; ++i) {
    const std::string action = argv[i];
    if (action == "open") {
      dialog.Open();
    } else if (const auto it = commands.find(action); it != commands.end()) {
      dialog.Command(it->second);
    } else {
      std::fprintf(stderr, "unknown action %s\n", action.c_str());
      return 2;
    }
    Say("done " + action);
  }
  Say("finished");
  return 0;
}
