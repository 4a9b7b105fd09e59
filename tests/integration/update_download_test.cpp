// The version-file download of the tool and the updater against the real local update host
// over real TLS: what DownloadToBuffer, GetPublishedVersion and GetArchiveName deliver.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/files.h"
#include "tests/support/isolation.h"
#include "tests/support/process.h"
#include "tests/support/update_host.h"

namespace zivra::test {
namespace {

using namespace std::chrono_literals;

const std::string kVersionPath = "/zivra_reader/CurVersion.txt";

class UpdateDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateHostConfigured()) GTEST_SKIP() << "this build does not point at the test update host";
    if (!Isolated()) GTEST_SKIP() << "needs its own network namespace (root)";
  }

  // Runs the probe and returns what it printed.
  std::string Probe(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    Process p(ZIVRA_PROBE, Process::Options{args, env, {}, "", (out_.Path() / "probe").string()});
    EXPECT_EQ(p.Wait(60s), 0);
    return p.Stdout();
  }

  ScratchDir out_{"zivra-probe"};
};

TEST_F(UpdateDownload, PublishedVersionAndArchiveName) {
  UpdateHost host;
  host.Serve(kVersionPath, "0181\r\nzivraBrowserTool.zip");
  EXPECT_EQ(Probe({"published"}), "0181");
  EXPECT_EQ(Probe({"archive"}), "zivraBrowserTool.zip");
  host.Serve(kVersionPath, "18");
  EXPECT_EQ(Probe({"published"}), "18");
  EXPECT_EQ(Probe({"archive"}), "");
  EXPECT_EQ(host.Requests(), std::vector<std::string>(4, kVersionPath));
}

TEST_F(UpdateDownload, ProxyVariablesDoNotRedirectTheUpdateHost) {
  UpdateHost host;
  host.Serve(kVersionPath, "0181\r\nzivraBrowserTool.zip");
  const std::map<std::string, std::string> proxies = {
      {"https_proxy", "http://127.0.0.1:9"}, {"HTTPS_PROXY", "http://127.0.0.1:9"}, {"all_proxy", "http://127.0.0.1:9"}};
  EXPECT_EQ(Probe({"published"}, proxies), "0181");
}

TEST_F(UpdateDownload, OnlyTheFirst1023BytesAreKept) {
  UpdateHost host;
  std::string body = "0181\r\n";
  while (body.size() < 5000) body += "abcdefghij";
  host.Serve(kVersionPath, body);
  EXPECT_EQ(Probe({"buffer", UpdateHostBaseUrl() + "CurVersion.txt"}), body.substr(0, 1023));
}

TEST_F(UpdateDownload, FailuresLeaveTheBufferEmpty) {
  {
    UpdateHost host;  // serves nothing: every path is a 404 page
    EXPECT_EQ(Probe({"buffer", UpdateHostBaseUrl() + "CurVersion.txt"}), "");
    EXPECT_EQ(Probe({"published"}), "");
    host.ServeCut(kVersionPath, "0181\r\n" + std::string(500, 'x'), 20);
    EXPECT_EQ(Probe({"published"}), "");
    host.Serve("/plain", "0181");
    const std::string base = UpdateHostBaseUrl();  // "https://host:port/zivra_reader/"
    const std::string address = base.substr(8, base.find('/', 8) - 8);
    EXPECT_EQ(Probe({"buffer", "https://" + address + "/plain"}), "0181");
    EXPECT_EQ(Probe({"buffer", "http://" + address + "/plain"}), "");  // https only
  }
  {
    // A host whose certificate the test CA did not sign.
    UpdateHost impostor(Certificates().serverCert.string(), Certificates().serverKey.string());
    impostor.Serve(kVersionPath, "0181\r\nzivraBrowserTool.zip");
    EXPECT_EQ(Probe({"published"}), "");
    EXPECT_EQ(Probe({"archive"}), "");
  }
  // Nobody listening.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe({"published"}), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

}  // namespace
}  // namespace zivra::test
