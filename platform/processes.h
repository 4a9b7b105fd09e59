#pragma once
#include <chrono>
#include <string>
#include <vector>

namespace zivra::platform {

using Pid = unsigned long;  // 0: no process

// One running process: its id and the file name of its executable (without the folder).
struct ProcessEntry {
  Pid pid = 0;
  std::string exeName;
};

// The processes whose executable can be read, in the order the system lists them. A process
// whose executable file was replaced or deleted while it runs is listed under that file's name.
std::vector<ProcessEntry> ListProcesses();

// The executable file name of process `pid`, or empty when it has ended or cannot be read.
std::string ProcessExeName(Pid pid);

// Kills process `pid` (SIGKILL) when its executable is still named `exeName`, and waits until it
// has ended, at most `timeout`. True when the process is gone (or was never there).
bool KillAndWait(Pid pid, const std::string& exeName, std::chrono::milliseconds timeout);

// Starts `path` with `args`, detached from the caller: its own session, standard input from
// /dev/null, signals as on a fresh start, and no child left for the caller to reap. The current
// directory is inherited. True when the program was started.
bool StartDetached(const std::string& path, const std::vector<std::string>& args);

// Opens the document `path` with the user's default program (xdg-open), detached.
bool OpenDocument(const std::string& path);

Pid CurrentPid();

}  // namespace zivra::platform
