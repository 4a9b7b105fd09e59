// The process control that the tool and the updater share, on real processes: finding by exact
// executable name, terminating (and waiting for the end), starting detached from the folder and
// opening documents. Each test runs in a process-id namespace of its own, so the names never
// meet processes of other tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/files.h"
#include "tests/support/isolation.h"
#include "tests/support/pid_namespace.h"

namespace fs = std::filesystem;

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

// A field of /proc/<pid>/status ("NSpid", "PPid").
std::string StatusField(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return line.substr(field.size() + 1);
  }
  return {};
}

// The process's id as seen inside its namespace (the last NSpid entry).
std::string InnerPid(pid_t pid) {
  const std::string ids = StatusField(pid, "NSpid");
  const auto tab = ids.find_last_of(" \t");
  return tab == std::string::npos ? ids : ids.substr(tab + 1);
}

class ProcessControl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Isolated()) GTEST_SKIP() << "needs root for a process-id namespace";
    ns_ = std::make_unique<PidNamespace>();
    Install(ZIVRA_PROBE, "zivra_probe");
    Install(ZIVRA_STANDIN, "zivraBrowserServer");
    Install(ZIVRA_STANDIN, "ZivraBrowserServer");
    starts_ = (logs_.Path() / "starts").string();
  }

  void Install(const std::string& from, const std::string& name) {
    fs::copy_file(from, dir_.Path() / name, fs::copy_options::overwrite_existing);
    fs::permissions(dir_.Path() / name, fs::perms(0755));
  }

  // Starts the stand-in `name` from the folder inside the namespace; returns its id as the test
  // sees it.
  pid_t StartStandIn(const std::string& name) {
    const std::size_t before = ns_->Find(name).size();
    running_.push_back(ns_->Start(dir_.Folder() + name, Options({})));
    std::vector<pid_t> found;
    EXPECT_TRUE(WaitUntil([&] { return (found = ns_->Find(name)).size() > before; }, 10s));
    return found.empty() ? -1 : found.back();
  }

  Process::Options Options(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env["ZIVRA_STANDIN_LOG"] = starts_;
    return Process::Options{std::move(args), std::move(env), {}, "", ""};
  }

  // Runs an operation through the probe inside the namespace; returns what it printed.
  std::string Probe(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    const std::string out = (logs_.Path() / "probe").string();
    Process::Options o = Options(std::move(args), std::move(env));
    o.outputPrefix = out;
    Process p = ns_->Start(dir_.Folder() + "zivra_probe", o);
    EXPECT_EQ(p.Wait(30s), 0) << p.Stderr();
    return p.Stdout();
  }

  ScratchDir dir_{"zivra-processes"};
  ScratchDir logs_{"zivra-processes-log"};
  std::string starts_;
  std::unique_ptr<PidNamespace> ns_;
  std::vector<Process> running_;
};

TEST_F(ProcessControl, FindsOnlyTheExactName) {
  EXPECT_EQ(Probe({"find", "zivraBrowserServer.exe"}), "0");
  StartStandIn("ZivraBrowserServer");
  EXPECT_EQ(Probe({"find", "zivraBrowserServer.exe"}), "0");  // letter case counts
  const pid_t server = StartStandIn("zivraBrowserServer");
  EXPECT_EQ(Probe({"find", "zivraBrowserServer.exe"}), InnerPid(server));
  EXPECT_EQ(Probe({"find", "zivraBrowserServer"}), InnerPid(server));
  EXPECT_EQ(Probe({"find", "zivraBrowserServe.exe"}), "0");
  EXPECT_EQ(Probe({"find", "zivraBrowserServer.exe "}), "0");
}

TEST_F(ProcessControl, TerminateEndsTheFirstAndWaitsForIt) {
  const pid_t first = StartStandIn("zivraBrowserServer");
  const pid_t second = StartStandIn("zivraBrowserServer");
  const pid_t other = StartStandIn("ZivraBrowserServer");
  // The search right after the termination no longer meets the first process.
  EXPECT_EQ(Probe({"terminate", "zivraBrowserServer.exe"}), InnerPid(second));
  EXPECT_TRUE(ExecutableOf(first).empty());
  EXPECT_FALSE(ExecutableOf(second).empty());
  EXPECT_FALSE(ExecutableOf(other).empty());
  EXPECT_EQ(Probe({"terminate", "zivraBrowserServer.exe"}), "0");
  EXPECT_TRUE(ExecutableOf(second).empty());
  EXPECT_EQ(Probe({"terminate", "zivraBrowserServer.exe"}), "0");  // none left: no effect
  EXPECT_FALSE(ExecutableOf(other).empty());
}

TEST_F(ProcessControl, StartsDetachedWithDebug) {
  ASSERT_EQ(Probe({"open", "zivraBrowserServer.exe", "Debug"}), "1");
  std::vector<pid_t> found;
  ASSERT_TRUE(WaitUntil([&] { return !(found = ns_->Find("zivraBrowserServer")).empty(); }, 10s));
  ASSERT_EQ(found.size(), 1u);
  // The probe has ended; the server was left to the namespace's first process, in a session of
  // its own, and received "Debug" as its one argument.
  const pid_t parent = static_cast<pid_t>(std::stol(StatusField(found[0], "PPid")));
  EXPECT_EQ(InnerPid(parent), "1");
  EXPECT_NE(::getsid(found[0]), ::getsid(0));
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(starts_).ends_with("\n"); }, 10s));
  EXPECT_EQ(ReadFile(starts_), dir_.Folder() + "zivraBrowserServer|Debug\n");

  ASSERT_EQ(Probe({"open", "zivraBrowserServer.exe"}), "1");
  ASSERT_TRUE(WaitUntil([&] { return ns_->Find("zivraBrowserServer").size() == 2; }, 10s));
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(starts_).size() > dir_.Folder().size() * 2 + 20; }, 10s));
  EXPECT_EQ(ReadFile(starts_), dir_.Folder() + "zivraBrowserServer|Debug\n" + dir_.Folder() + "zivraBrowserServer\n");

  EXPECT_EQ(Probe({"open", "zivraNothing.exe"}), "0");
}

TEST_F(ProcessControl, OpensDocumentsWithTheDefaultProgram) {
  // A stand-in for xdg-open first on the PATH notes what it was asked to open.
  ScratchDir bin("zivra-opener");
  const std::string opened = (logs_.Path() / "opened").string();
  WriteFile(bin.Path() / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened + "'\n");
  fs::permissions(bin.Path() / "xdg-open", fs::perms(0755));
  const std::map<std::string, std::string> env = {{"PATH", bin.Path().string() + ":" + std::getenv("PATH")}};
  EXPECT_EQ(Probe({"open", "EnvTest.html"}, env), "1");
  EXPECT_EQ(Probe({"open", "Zivra.pdf"}, env), "1");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(opened).find("pdf") != std::string::npos; }, 10s));
  EXPECT_EQ(ReadFile(opened), dir_.Folder() + "EnvTest.html\n" + dir_.Folder() + "Zivra.pdf\n");
}

}  // namespace
}  // namespace zivra::test
