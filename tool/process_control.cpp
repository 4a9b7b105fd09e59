#include "tool/process_control.h"

#include <array>
#include <chrono>

#include "platform/exe_folder.h"

namespace zivra::tool {
namespace {

constexpr std::string_view kExeSuffix = ".exe";
constexpr std::chrono::seconds kTerminateWait{5};

bool IsDocument(std::string_view name) {
  constexpr std::array<std::string_view, 4> kDocuments = {".html", ".htm", ".pdf", ".txt"};
  for (std::string_view ext : kDocuments) {
    if (name.size() > ext.size() && name.ends_with(ext)) return true;
  }
  return false;
}

}  // namespace

std::string InstalledName(std::string_view name) {
  if (name.size() > kExeSuffix.size() && name.ends_with(kExeSuffix)) {
    name.remove_suffix(kExeSuffix.size());
  }
  return std::string(name);
}

ProcessId FirstNamed(const std::vector<platform::ProcessEntry>& processes, std::string_view name,
                     ProcessId except) {
  const std::string wanted = InstalledName(name);
  if (wanted.empty()) return 0;
  for (const platform::ProcessEntry& p : processes) {
    if (p.pid != except && p.exeName == wanted) return p.pid;
  }
  return 0;
}

ProcessId FindProcessId(std::string_view name) { return FirstNamed(platform::ListProcesses(), name); }

ProcessId FindProcessIdExcept(std::string_view name, ProcessId except) {
  return FirstNamed(platform::ListProcesses(), name, except);
}

void TerminateByName(std::string_view name) {
  const ProcessId id = FindProcessId(name);
  if (id != 0) platform::KillAndWait(id, InstalledName(name), kTerminateWait);
}

void TerminateProcessId(ProcessId id) {
  if (id == 0) return;
  const std::string exeName = platform::ProcessExeName(id);
  if (!exeName.empty()) platform::KillAndWait(id, exeName, kTerminateWait);
}

bool OpenFromFolder(std::string_view fileName, std::string_view parameter) {
  const std::string folder = platform::ExecutableFolder();
  if (folder.empty() || fileName.empty()) return false;
  if (IsDocument(fileName)) return platform::OpenDocument(folder + std::string(fileName));
  std::vector<std::string> args;
  if (!parameter.empty()) args.emplace_back(parameter);
  return platform::StartDetached(folder + InstalledName(fileName), args);
}

ProcessId CurrentProcessId() { return platform::CurrentPid(); }

}  // namespace zivra::tool
