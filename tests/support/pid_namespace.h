#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace zivra::test {

// A process-id namespace of its own with its own /proc, for tests of programs that find and
// kill processes by name: inside it they see only the test's processes, never those of a test
// running beside it. Every process in it ends when the object is destroyed. Needs root.
class PidNamespace {
 public:
  PidNamespace();
  PidNamespace(const PidNamespace&) = delete;
  PidNamespace& operator=(const PidNamespace&) = delete;
  ~PidNamespace();

  // Starts `program` inside the namespace (its current directory: options.workingDir, else the
  // test's). The returned Process stands for it: its exit code is the program's.
  Process Start(const std::string& program, Process::Options options);

  // The processes inside the namespace, as ids seen from the test, whose executable (without
  // its folder) is `exeName`.
  std::vector<pid_t> Find(const std::string& exeName) const;
  bool Contains(pid_t pid) const;

 private:
  Process init_;      // unshare, whose child is the namespace's first process
  pid_t initPid_ = -1;
  std::string nsId_;  // the namespace's /proc/<pid>/ns/pid link
};

// The executable path of process `pid` as the test sees it (" (deleted)" kept), or empty.
std::string ExecutableOf(pid_t pid);

}  // namespace zivra::test
