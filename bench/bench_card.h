#pragma once
#include <map>
#include <memory>
#include <string>

#include "server/card/smart_card.h"
#include "tests/support/pcscd_harness.h"

namespace zivra::bench {

// The card side of the benchmarks: a private PC/SC daemon with a virtual system card, and the
// bare exchange the server performs for one card read, made in this process.
class BenchCard {
 public:
  void Start();
  // Environment the server needs to reach the daemon (the daemon's socket lies in the default
  // folder of this mount namespace, so nothing).
  std::map<std::string, std::string> ServerEnvironment() const { return {}; }
  std::string ExpectedNumber() const { return kNumber; }
  // One whole read with the same calls and commands as the server's, in milliseconds.
  double BareExchangeMs();

 private:
  static constexpr const char* kNumber = "0011223344556677";
  std::unique_ptr<test::PcscdHarness> harness_;
  std::unique_ptr<card::SmartCard> card_;
};

}  // namespace zivra::bench
