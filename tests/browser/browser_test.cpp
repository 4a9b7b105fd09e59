// The real thing in a real browser: an installation made by scripts/install in a scratch HOME,
// its server, a private PC/SC daemon with the virtual card, and Debian's headless Chromium driven
// by playwright-core (browser_test.mjs). The browser trusts the installation's CA only through
// the NSS database that the installer filled in that HOME; nothing ignores certificate errors.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include <optional>

#include "tests/support/isolation.h"
#include "tests/support/pcscd_harness.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kNodeDir = ZIVRA_BROWSER_NODE_DIR;
const std::string kShots = ZIVRA_BROWSER_SHOTS_DIR;
const std::string kCardNumber = "04A1B2C3D4E5F601";

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Isolated()) << "the browser test needs root for private network and mount namespaces";
    ASSERT_TRUE(fs::exists("/usr/bin/chromium")) << "chromium is missing: run scripts/install-deps";
    fs::create_directories(Home());
    fs::create_directories(UntrustedHome());
    fs::create_directories(kShots);
    bench_.emplace();
    ASSERT_EQ(bench_->Problem(), "");
    Process::Options o;
    o.args = {"--from", ZIVRA_DIST_DIR, "--no-start", "--no-deps", "--no-system-trust"};
    o.env = {{"HOME", Home().string()}};
    o.unsetEnv = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"};
    o.outputPrefix = (scratch_.Path() / "install").string();
    Process install(std::string(ZIVRA_SOURCE_DIR) + "/scripts/install", o);
    ASSERT_EQ(install.Wait(120s).value_or(-1), 0) << install.Stdout() << install.Stderr();
  }

  fs::path Home() const { return scratch_.Path() / "home"; }
  fs::path UntrustedHome() const { return scratch_.Path() / "untrusted"; }
  fs::path Folder() const { return Home() / ".local/share/zivra"; }

  void PlaceCard(const std::vector<std::string>& args) {
    ASSERT_TRUE(bench_->InsertCard(0, args)) << "the daemon did not see the card";
  }

  void StartServer() {
    Process::Options o;
    o.outputPrefix = (scratch_.Path() / "server").string();
    server_ = Process((Folder() / "zivraBrowserServer").string(), o);
    ASSERT_TRUE(WaitUntil([] { return ListeningSockets(kPort) > 0; }, 10s));
  }

  // Runs one scenario of browser_test.mjs; returns its exit code, with what it saw in `report_`.
  int Scenario(const std::string& name, const fs::path& home, const std::string& cardCode = "ok") {
    const std::string config = std::string("{") + "\"folder\":\"" + Folder().string() + "\",\"home\":\"" +
                               home.string() + "\",\"version\":\"" + ReadFile(Folder() / "Version.txt").substr(0, 5) +
                               "\",\"card\":\"" + kCardNumber + "\",\"cardCode\":\"" + cardCode +
                               "\",\"shots\":\"" + kShots + "\"}";
    Process::Options o;
    o.args = {kNodeDir + "/browser_test.mjs", name, config};
    o.outputPrefix = (scratch_.Path() / ("node-" + name)).string();
    Process node("node", o);
    const auto code = node.Wait(180s);
    report_ = node.Stdout() + node.Stderr();
    return code.value_or(-1);
  }

  ScratchDir scratch_{"zivra-browser"};
  std::optional<PcscdHarness> bench_;
  Process server_;
  std::string report_;
};

TEST_F(Browser, PagesFromAnotherOriginFromAFileAndFromTheServerReadTheCard) {
  PlaceCard({"--number", kCardNumber});
  StartServer();
  EXPECT_EQ(Scenario("trusted", Home()), 0) << report_;
}

TEST_F(Browser, TestPageExplainsCardProblems) {
  StartServer();
  EXPECT_EQ(Scenario("card-error", Home(), "no-card"), 0) << report_;
  PlaceCard({"--card", "foreign"});
  EXPECT_EQ(Scenario("card-error", Home(), "wrong-card"), 0) << report_;
}

TEST_F(Browser, CertificateWithoutTheInstallationsTrustIsRefused) {
  PlaceCard({"--number", kCardNumber});
  StartServer();
  EXPECT_EQ(Scenario("untrusted", UntrustedHome()), 0) << report_;
}

TEST_F(Browser, TestPageExplainsAServiceThatIsNotRunning) {
  EXPECT_EQ(Scenario("no-server", Home()), 0) << report_;
}

}  // namespace
}  // namespace zivra::test

// npm ci needs the network, so the node package is set up before this process leaves the host's
// network for namespaces of its own; listing the tests needs neither.
int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  if (!listing) {
    const std::string setup = std::string(ZIVRA_BROWSER_SOURCE_DIR) + "/setup-node";
    const auto r = zivra::test::RunCommand({setup, ZIVRA_BROWSER_NODE_DIR}, std::chrono::minutes(5));
    if (r.exitCode != 0) {
      std::fprintf(stderr, "setup-node failed (exit %d)\n", r.exitCode);
      return 1;
    }
    zivra::test::EnterPrivateNamespaces();
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
