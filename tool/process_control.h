#pragma once
#include <string_view>

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
// default program instead.
void OpenFromFolder(std::string_view fileName, std::string_view parameter = {});

// The calling process's id.
ProcessId CurrentProcessId();

}  // namespace zivra::tool
