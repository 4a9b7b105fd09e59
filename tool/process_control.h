#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/processes.h"

namespace zivra::tool {

// Programs are named as on every platform ("zivraBrowserServer.exe"); on systems whose
// executables carry no extension the ".exe" is dropped before comparing or starting.
inline constexpr std::string_view kServerExe = "zivraBrowserServer.exe";
inline constexpr std::string_view kToolExe = "zivraBrowserTool.exe";
inline constexpr std::string_view kUpdateExe = "zivraUpdate.exe";

using ProcessId = unsigned long;  // 0: no such process

// The id of the first process, in the order the system lists them, whose executable file name
// equals `name` exactly (case-sensitive), or 0.
ProcessId FindProcessId(std::string_view name);

// As FindProcessId, but never the process `except` (the caller passes its own id).
ProcessId FindProcessIdExcept(std::string_view name, ProcessId except);

// Terminates the first process named `name`, if any, and returns once it has ended (bounded to a
// few seconds), so that a search or a start right after it does not meet the dying process.
void TerminateByName(std::string_view name);

// Terminates the process `id` (if not 0) as TerminateByName does.
void TerminateProcessId(ProcessId id);

// Starts the executable `fileName` from the tool's folder, detached, with `parameter` as its one
// argument when not empty; a document (".html", ".pdf", ".txt") is opened with the user's
// default program instead. True when the program (or the document's opener) was started.
bool OpenFromFolder(std::string_view fileName, std::string_view parameter = {});

// The calling process's id.
ProcessId CurrentProcessId();

// The name a program has in the installation folder: `name` without a trailing ".exe" on this
// system; other names are unchanged.
std::string InstalledName(std::string_view name);

// The first entry of `processes` (in their order) named exactly InstalledName(name) that is not
// `except`, or 0.
ProcessId FirstNamed(const std::vector<platform::ProcessEntry>& processes, std::string_view name,
                     ProcessId except = 0);

}  // namespace zivra::tool
