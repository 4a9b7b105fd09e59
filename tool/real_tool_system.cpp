#include "tool/real_tool_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/version.h"
#include "platform/desktop_folder.h"
#include "platform/exe_folder.h"
#include "platform/message_box.h"
#include "tool/http_client.h"

namespace zivra::tool {

RealToolSystem::RealToolSystem() { markers_.reserve(2); }

std::string RealToolSystem::GetPublishedVersion() { return zivra::GetPublishedVersion(); }

int RealToolSystem::CompareVersion(const std::string& published) { return zivra::CompareVersion(published); }

bool RealToolSystem::CreateMarker(std::string_view name) {
  markers_.emplace_back(name);
  return markers_.back().AlreadyExisted();
}

ProcessId RealToolSystem::FindProcessId(std::string_view name) { return tool::FindProcessId(name); }

ProcessId RealToolSystem::FindProcessIdExcept(std::string_view name, ProcessId except) {
  return tool::FindProcessIdExcept(name, except);
}

ProcessId RealToolSystem::CurrentProcessId() { return tool::CurrentProcessId(); }

void RealToolSystem::TerminateByName(std::string_view name) { tool::TerminateByName(name); }

void RealToolSystem::TerminateProcessId(ProcessId id) { tool::TerminateProcessId(id); }

void RealToolSystem::OpenFromFolder(std::string_view fileName, std::string_view parameter) {
  tool::OpenFromFolder(fileName, parameter);
}

void RealToolSystem::DeleteFromFolder(std::string_view fileName) {
  const std::string path = platform::ExecutableFolder() + std::string(fileName);
  ::unlink(path.c_str());
}

bool CopyFileInto(const std::string& source, const std::string& folder, const std::string& name) {
  namespace fs = std::filesystem;
  if (folder.empty() || name.empty()) return false;
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string temp = folder + "/." + name + ".XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  bool ok = out >= 0;
  if (ok) {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0) {
        ok = false;
        break;
      }
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
        if (w <= 0) {
          ok = false;
          break;
        }
        done += w;
      }
      if (!ok) break;
    }
    ok = ::fchmod(out, 0644) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), (folder + "/" + name).c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
  }
  ::close(in);
  return ok;
}

void RealToolSystem::CopyToDesktop(std::string_view fileName) {
  const std::string name(fileName);
  CopyFileInto(platform::ExecutableFolder() + name, platform::DesktopFolder(), name);
}

void RealToolSystem::SendTestGetCardID() { tool::SendTestGetCardID(); }

void RealToolSystem::Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void RealToolSystem::ShowMessage(std::string_view text) { platform::ShowMessageBox(text); }

void RealToolSystem::WriteLog(std::string_view level, std::string_view message) {
  log_.WriteLog(kToolModule, level, message, kSystemLog);
}

bool RealToolSystem::TrayShown() { return trayShown_ ? trayShown_() : false; }

void RealToolSystem::EndTool() {
  if (endTool_) endTool_();
  std::fflush(nullptr);
  ::_exit(0);
}

}  // namespace zivra::tool
