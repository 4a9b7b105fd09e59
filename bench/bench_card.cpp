#include "bench/bench_card.h"

#include <chrono>
#include <stdexcept>

namespace zivra::bench {

void BenchCard::Start() {
  harness_ = std::make_unique<test::PcscdHarness>();
  if (!harness_->Problem().empty()) throw std::runtime_error("PC/SC bench: " + harness_->Problem());
  if (!harness_->InsertCard(0, {"--number", kNumber, "--quiet"})) {
    throw std::runtime_error("PC/SC bench: the virtual card did not appear");
  }
  card_ = std::make_unique<card::SmartCard>();
}

double BenchCard::BareExchangeMs() {
  const auto start = std::chrono::steady_clock::now();
  const std::wstring result = card_->GetCardID(0);
  const auto end = std::chrono::steady_clock::now();
  if (result != std::wstring(kNumber, kNumber + 16)) throw std::runtime_error("bare card read failed");
  return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace zivra::bench
