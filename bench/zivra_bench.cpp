// Benchmarks of the server against named baselines, each measured side by side in the same run:
//   1. request rate, new TLS connection per request: our server vs `openssl s_server -WWW`
//   2. card-read latency: "/?GetCardID" end to end vs the bare PC/SC exchange plus one bare request
//   3. memory: resident size after start and after many requests
//   4. idle connections: card-read latency while another client holds an idle connection
// Prints a table and writes JSON. Runs in network and mount namespaces of its own (as root).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_card.h"
#include "bench/https_client.h"
#include "tests/support/files.h"
#include "tests/support/isolation.h"
#include "tests/support/process.h"
#include "tests/support/server_fixture.h"
#include "tests/support/tls_client.h"

namespace zivra::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t kBaselinePort = 4433;

struct Figure {
  std::string name;
  std::string unit;
  double ours = 0;
  double baseline = 0;
  std::string baselineName;
  std::string comparison;  // how ours relates to the baseline
  double value = 0;        // the compared figure (ratio or difference)
  std::string target;
  bool met = false;
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A "Name:   123 kB" field of /proc/<pid>/status.
long StatusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}
long ResidentKiB(pid_t pid) { return StatusKiB(pid, "VmRSS"); }

int OpenDescriptors(pid_t pid) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++n;
  return n;
}

class Bench {
 public:
  explicit Bench(bool smoke) : smoke_(smoke), client_(test::Certificates().caCert.string()) {}

  void StartServer() {
    server_ = test::Process(install_.Program("zivraBrowserServer"),
                            test::Process::Options{{}, card_.ServerEnvironment(), {}, "/", install_.Folder() + "server"});
    if (!test::WaitUntil([] { return test::ListeningSockets(test::kPort) >= 1; }, 10s)) {
      throw std::runtime_error("the server did not start listening");
    }
  }

  std::string Ours(const std::string& path) {
    return client_.Request("127.0.0.1", test::kPort, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  }

  Figure RequestRate() {
    test::Process baseline("openssl",
                           test::Process::Options{{"s_server", "-WWW", "-quiet", "-accept", std::to_string(kBaselinePort),
                                                   "-cert", install_.File("server.crt").string(), "-key",
                                                   install_.File("server.key").string()},
                                                  {}, {}, install_.Folder(), ""});
    if (!test::WaitUntil([] { return test::ListeningSockets(kBaselinePort) >= 1; }, 10s)) {
      throw std::runtime_error("openssl s_server did not start");
    }
    const auto theirs = [&] {
      return client_.Request("127.0.0.1", kBaselinePort, "GET /Version.txt HTTP/1.0\r\n\r\n");
    };
    if (Ours("/?getversion").find("\r\n\r\n0180") == std::string::npos || theirs().find("0180") == std::string::npos) {
      throw std::runtime_error("a server answered wrongly before the rate run");
    }
    const int rounds = smoke_ ? 2 : 7;
    const int perRound = smoke_ ? 5 : 300;
    std::vector<double> ourRates, theirRates;
    for (int r = 0; r < rounds; ++r) {
      // Alternate which goes first so that drift of the machine hits both alike.
      for (int which = 0; which < 2; ++which) {
        const bool oursNow = (which == 0) == (r % 2 == 0);
        const auto start = Clock::now();
        for (int i = 0; i < perRound; ++i) {
          if ((oursNow ? Ours("/?getversion") : theirs()).empty()) throw std::runtime_error("request failed");
        }
        const double rate = perRound / std::chrono::duration<double>(Clock::now() - start).count();
        (oursNow ? ourRates : theirRates).push_back(rate);
      }
    }
    Figure f{"request rate, new TLS connection each", "requests/s", Median(ourRates), Median(theirRates),
             "openssl s_server -WWW", "ratio ours/baseline", 0, ">= 0.90", false};
    f.value = f.ours / f.baseline;
    f.met = f.value >= 0.9;
    return f;
  }

  Figure Memory() {
    const long before = ResidentKiB(server_.Pid());
    const int fdsBefore = OpenDescriptors(server_.Pid());
    const int count = smoke_ ? 50 : 10000;
    for (int i = 0; i < count; ++i) {
      if (Ours("/?getversion").empty()) throw std::runtime_error("request failed");
    }
    const long after = ResidentKiB(server_.Pid());
    const int fdsAfter = OpenDescriptors(server_.Pid());
    Figure f{"resident size after start / after " + std::to_string(count) + " requests", "KiB",
             static_cast<double>(after), static_cast<double>(before), "the same server after start",
             "growth KiB", static_cast<double>(after - before), "< 8192 KiB, growth < 256 KiB", false};
    f.met = after < 8192 && after - before < 256;
    // Most of the resident size is shared library code (libcrypto above all), mapped from files and
    // shared with every other process using them; the server's own memory is the anonymous part.
    f.comparison += " (anonymous " + std::to_string(StatusKiB(server_.Pid(), "RssAnon")) + " KiB, file-backed " +
                    std::to_string(StatusKiB(server_.Pid(), "RssFile")) + " KiB; open descriptors " +
                    std::to_string(fdsBefore) + " -> " + std::to_string(fdsAfter) + ")";
    return f;
  }

  // Median latency of card reads through the server, optionally with an idle client connected.
  double CardReadMedianMs(int count, bool withIdleClient) {
    std::optional<test::TcpClient> idle;
    if (withIdleClient) idle.emplace("127.0.0.1", test::kPort);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
      const auto start = Clock::now();
      const std::string reply = Ours("/?GetCardID");
      times.push_back(Ms(Clock::now() - start));
      if (reply.find(card_.ExpectedNumber()) == std::string::npos) {
        throw std::runtime_error("card read failed: " + reply.substr(reply.find("\r\n\r\n") + 4));
      }
    }
    return Median(times);
  }

  Figure CardLatency() {
    const int count = smoke_ ? 3 : 100;
    CardReadMedianMs(2, false);  // warm up
    std::vector<double> bare, tls, ours;
    for (int i = 0; i < count; ++i) {
      bare.push_back(card_.BareExchangeMs());
      const auto start = Clock::now();
      if (Ours("/?getversion").empty()) throw std::runtime_error("request failed");
      tls.push_back(Ms(Clock::now() - start));
      ours.push_back(CardReadMedianMs(1, false));
    }
    Figure f{"card read \"/?GetCardID\" end to end", "ms", Median(ours), Median(bare) + Median(tls),
             "bare PC/SC exchange + one bare TLS request", "median overhead ms", 0, "<= 1 ms", false};
    f.value = f.ours - f.baseline;
    f.met = f.value <= 1.0;
    return f;
  }

  Figure IdleConnections() {
    const int count = smoke_ ? 3 : 50;
    std::vector<double> without, with;
    for (int r = 0; r < 3; ++r) {
      without.push_back(CardReadMedianMs(count, false));
      with.push_back(CardReadMedianMs(count, true));
    }
    Figure f{"card read while another client holds an idle connection", "ms", Median(with), Median(without),
             "the same read without the idle client", "difference ms", 0, "<= 50 ms", false};
    f.value = f.ours - f.baseline;
    f.met = f.value <= 50;
    return f;
  }

  BenchCard& Card() { return card_; }

 private:
  bool smoke_;
  test::ScratchInstall install_;
  BenchCard card_;
  HttpsClient client_;
  test::Process server_;
};

void Print(const std::vector<Figure>& figures, const std::string& jsonPath) {
  std::printf("\n%-58s %12s %12s %-44s %12s  %-30s %s\n", "figure", "ours", "baseline", "baseline is", "compared",
              "target", "met");
  for (const Figure& f : figures) {
    std::printf("%-58s %12.3f %12.3f %-44s %12.3f  %-30s %s\n", (f.name + " [" + f.unit + "]").c_str(), f.ours,
                f.baseline, f.baselineName.c_str(), f.value, (f.comparison + " " + f.target).c_str(),
                f.met ? "yes" : "NO");
  }
  if (jsonPath.empty()) return;
  std::ofstream out(jsonPath);
  out << "[\n";
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    out << "  {\"figure\": \"" << f.name << "\", \"unit\": \"" << f.unit << "\", \"ours\": " << f.ours
        << ", \"baseline\": " << f.baseline << ", \"baseline_is\": \"" << f.baselineName << "\", \"compared\": \""
        << f.comparison << "\", \"value\": " << f.value << ", \"target\": \"" << f.target
        << "\", \"met\": " << (f.met ? "true" : "false") << "}" << (i + 1 < figures.size() ? "," : "") << "\n";
  }
  out << "]\n";
  std::printf("\nwritten to %s\n", jsonPath.c_str());
}

}  // namespace
}  // namespace zivra::bench

int main(int argc, char** argv) {
  using namespace zivra;
  bool smoke = false;
  std::string json;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--smoke") smoke = true;
    else if (a == "--json" && i + 1 < argc) json = argv[++i];
    else {
      std::fprintf(stderr, "usage: zivra_bench [--smoke] [--json FILE]\n");
      return 2;
    }
  }
  if (!test::EnterPrivateNamespaces()) {
    std::fprintf(stderr, "zivra_bench: needs root to run in private network and mount namespaces\n");
    return 2;
  }
  try {
    bench::Bench b(smoke);
    b.Card().Start();
    b.StartServer();
    std::vector<bench::Figure> figures;
    figures.push_back(b.RequestRate());
    figures.push_back(b.CardLatency());
    figures.push_back(b.Memory());
    figures.push_back(b.IdleConnections());
    bench::Print(figures, json);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zivra_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
