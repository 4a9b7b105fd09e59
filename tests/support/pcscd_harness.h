#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace zivra::test {

// A private PC/SC daemon for one test process, which has a mount namespace of its own: a fresh
// folder is bound over /run/pcscd, so the daemon's socket (and every client started by the
// test, the server too) lives there and nowhere else. With virtual readers, the daemon's reader
// configuration holds the virtual reader driver, which makes two readers; a card on one of them
// is a cardsim process connected to the reader's port. The destructor ends the cards and the
// daemon and unbinds the folder, whatever the test did.
class PcscdHarness {
 public:
  enum class Setup {
    NoDaemon,        // the socket folder stays empty: no smart-card service
    NoReaders,       // a daemon with an empty reader configuration
    VirtualReaders,  // a daemon with the two virtual readers
  };
  static constexpr std::array<const char*, 2> kReaderNames{"Virtual PCD 00 00", "Virtual PCD 00 01"};

  explicit PcscdHarness(Setup setup = Setup::VirtualReaders);
  PcscdHarness(const PcscdHarness&) = delete;
  PcscdHarness& operator=(const PcscdHarness&) = delete;
  ~PcscdHarness();

  // Empty when the bench is up; else what went wrong.
  const std::string& Problem() const { return problem_; }
  std::uint16_t Port(int slot) const { return static_cast<std::uint16_t>(basePort_ + slot); }

  // Places a card (cardsim with `args`) on reader `slot` and waits until the daemon sees it.
  bool InsertCard(int slot, const std::vector<std::string>& args);
  // Takes the card away and waits until the daemon sees the reader empty.
  bool RemoveCard(int slot);
  Process& Card(int slot) { return cards_.at(static_cast<std::size_t>(slot)); }
  // Kills the daemon at once (SIGKILL), as a crash would; the cards lose their reader.
  void KillDaemon() { pcscd_.Kill(); }
  // What the card on `slot` was sent and answered, from cardsim's standard error.
  std::string CardLog(int slot) const;
  // Waits (with SCardGetStatusChange) until reader `slot` holds a card, or is empty.
  bool WaitForCard(int slot, bool present, std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  bool StartDaemon(bool withReaders);

  ScratchDir dir_{"zivra-pcscd"};
  bool mounted_ = false;
  std::uint16_t basePort_ = 0;
  Process pcscd_;
  std::array<Process, 2> cards_;
  std::array<std::optional<std::uint32_t>, 2> events_;  // the daemon's event counter per reader
  std::string problem_;
};

}  // namespace zivra::test
