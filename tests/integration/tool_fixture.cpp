#include "tests/integration/tool_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace zivra::test {

namespace fs = std::filesystem;

ToolFixture::ToolFixture() {
  // The tool trusts the installation's own CA: here the test CA that signed server.crt.
  fs::copy_file(Certificates().caCert, install_.File("zivraLocalCA.crt"), fs::copy_options::overwrite_existing);
  fs::create_directories(home_.Path() / "runtime");
  ::chmod((home_.Path() / "runtime").c_str(), 0700);
  fs::create_directories(home_.Path() / "config");
  fs::create_directories(home_.Path() / "bin");
  // A desktop folder under another name than the default, as a localised desktop has it.
  WriteFile(home_.Path() / "config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  const fs::path opener = home_.Path() / "bin" / "xdg-open";
  WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" + (home_.Path() / "opened.txt").string() + "\"\n");
  fs::permissions(opener, fs::perms::owner_all);
}

void ToolFixture::TearDown() {
  if (!HasFailure()) return;
  for (const auto& entry : fs::directory_iterator(home_.Path())) {
    const std::string ext = entry.path().extension().string();
    if ((ext == ".out" || ext == ".err") && fs::file_size(entry.path()) > 0) {
      std::printf("--- %s\n%s\n", entry.path().filename().c_str(), ReadFile(entry.path()).c_str());
    }
  }
}

std::map<std::string, std::string> ToolFixture::Env(const std::map<std::string, std::string>& extra) const {
  const char* path = std::getenv("PATH");
  std::map<std::string, std::string> env = {
      {"HOME", home_.Path().string()},
      {"XDG_RUNTIME_DIR", (home_.Path() / "runtime").string()},
      {"XDG_CONFIG_HOME", (home_.Path() / "config").string()},
      {"PATH", (home_.Path() / "bin").string() + ":" + (path != nullptr ? path : "/usr/bin:/bin")},
      {"NO_AT_BRIDGE", "1"},
      {"LANG", "C.UTF-8"},
      {"DISPLAY", ""},
      {"DBUS_SESSION_BUS_ADDRESS", ""},
      {"WAYLAND_DISPLAY", ""},
  };
  for (const auto& [k, v] : extra) env[k] = v;
  return env;
}

Process ToolFixture::Start(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& extra, const std::string& outputName) {
  Process::Options options;
  options.args = args;
  options.env = Env(extra);
  for (const auto& [k, v] : options.env) {
    if (v.empty()) options.unsetEnv.push_back(k);
  }
  for (const auto& k : options.unsetEnv) options.env.erase(k);
  options.workingDir = "/";
  if (!outputName.empty()) options.outputPrefix = (home_.Path() / outputName).string();
  return ns_.Start(program, options);
}

pid_t ToolFixture::WaitForOneListeningServer(std::chrono::milliseconds timeout) const {
  pid_t pid = 0;
  WaitUntil(
      [&] {
        const auto servers = Servers();
        pid = servers.size() == 1 && ListeningSockets(kPort) > 0 ? servers.front() : 0;
        return pid != 0;
      },
      timeout);
  return pid;
}

std::string ToolFixture::CommandLine(pid_t pid) {
  std::string raw = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw) {
    if (c == '\0') c = ' ';
  }
  return raw;
}

std::vector<std::string> ToolFixture::ToolLogLines() const {
  std::vector<std::string> lines;
  const std::string text = SysLog();
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    if (line.size() > 20 && line.compare(20, 18, "[zivraBrowserTool]") == 0) lines.push_back(line.substr(20));
  }
  return lines;
}

std::string LogEntry(std::string_view module, std::string_view level, std::string_view message) {
  return "[" + std::string(module) + "]:" + std::string(level) + ":" + std::string(message);
}

}  // namespace zivra::test
