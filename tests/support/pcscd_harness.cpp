#include "tests/support/pcscd_harness.h"

#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <winscard.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>

#include "tests/support/isolation.h"

namespace zivra::test {
namespace {

constexpr const char* kSocketFolder = "/run/pcscd";
constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

bool PortFree(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// Two neighbouring free ports for the driver's two readers, away from the ones a system daemon
// takes (35963 and 35964).
std::uint16_t FreePortPair() {
  for (std::uint16_t p = 41000; p < 42000; p += 2) {
    if (PortFree(p) && PortFree(static_cast<std::uint16_t>(p + 1))) return p;
  }
  return 0;
}

// Waits for the reader's state, watching each change, until it holds a card (powered, its ATR
// known) or is empty, and until the daemon's event counter differs from `oldEvents`. Returns the
// event counter then.
std::optional<DWORD> WaitForReaderState(const std::string& reader, bool present, std::optional<DWORD> oldEvents,
                                        std::chrono::milliseconds timeout) {
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return std::nullopt;
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::optional<DWORD> reached;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() < 0) break;
    const LONG rv = SCardGetStatusChange(context, static_cast<DWORD>(left.count()), &state, 1);
    if (rv == SCARD_S_SUCCESS) {
      const bool hasCard = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
      const DWORD events = state.dwEventState >> 16;
      if (hasCard == present && (!present || state.cbAtr > 0) && (!oldEvents || events != *oldEvents)) {
        reached = events;
        break;
      }
      state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    } else if (rv != SCARD_E_TIMEOUT) {
      break;
    }
  }
  SCardReleaseContext(context);
  return reached;
}

bool ReadersListed() {
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
  char names[512];
  DWORD length = sizeof names;
  const LONG rv = SCardListReaders(context, nullptr, names, &length);
  SCardReleaseContext(context);
  if (rv != SCARD_S_SUCCESS) return false;
  int count = 0;
  for (const char* n = names; *n != '\0'; n += std::strlen(n) + 1) ++count;
  return count == static_cast<int>(PcscdHarness::kReaderNames.size());
}

}  // namespace

PcscdHarness::PcscdHarness(Setup setup) {
  if (!Isolated()) {
    problem_ = "needs its own mount namespace (run as root)";
    return;
  }
  std::error_code ec;
  std::filesystem::create_directories(kSocketFolder, ec);
  std::filesystem::create_directories(dir_.Path() / "run");
  if (::mount((dir_.Path() / "run").c_str(), kSocketFolder, nullptr, MS_BIND, nullptr) != 0) {
    problem_ = std::string("cannot bind a folder over /run/pcscd: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  if (setup != Setup::NoDaemon) StartDaemon(setup == Setup::VirtualReaders);
}

bool PcscdHarness::StartDaemon(bool withReaders) {
  std::string config;
  if (withReaders) {
    basePort_ = FreePortPair();
    if (basePort_ == 0) {
      problem_ = "no free ports for the virtual readers";
      return false;
    }
    config = "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:" + std::to_string(basePort_) +
             "\nLIBPATH " + kVpcdDriver + "\nCHANNELID " + std::to_string(basePort_) + "\n";
  }
  const auto configFile = dir_.Path() / "reader.conf";
  WriteFile(configFile, config);
  // The daemon is killed with the test process even when that dies without unwinding.
  pcscd_ = Process(ZIVRA_SETPRIV, {{"--pdeathsig", "KILL", "--", ZIVRA_PCSCD, "--foreground", "--config",
                                    configFile.string()},
                                   {}, {}, "/", (dir_.Path() / "pcscd").string()});
  const std::string socket = std::string(kSocketFolder) + "/pcscd.comm";
  const bool up = WaitUntil([&] { return std::filesystem::exists(socket) || !pcscd_.Running(); },
                            std::chrono::seconds(10)) &&
                  pcscd_.Running();
  if (!up) {
    problem_ = "pcscd did not start: " + ReadFile(dir_.Path() / "pcscd.out");
    return false;
  }
  if (withReaders && !WaitUntil(ReadersListed, std::chrono::seconds(10))) {
    problem_ = "the virtual readers did not appear: " + ReadFile(dir_.Path() / "pcscd.out");
    return false;
  }
  return true;
}

PcscdHarness::~PcscdHarness() {
  for (Process& card : cards_) card.Kill();
  pcscd_.Signal(SIGTERM);
  if (!pcscd_.Wait(std::chrono::seconds(5))) pcscd_.Kill();
  if (mounted_) ::umount2(kSocketFolder, MNT_DETACH);
}

bool PcscdHarness::InsertCard(int slot, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--port", std::to_string(Port(slot))};
  all.insert(all.end(), args.begin(), args.end());
  Card(slot) = Process(ZIVRA_CARDSIM, {all, {}, {}, "/", (dir_.Path() / ("card" + std::to_string(slot))).string()});
  return WaitForCard(slot, true);
}

bool PcscdHarness::RemoveCard(int slot) {
  Card(slot).Kill();
  return WaitForCard(slot, false);
}

std::string PcscdHarness::CardLog(int slot) const {
  return ReadFile(dir_.Path() / ("card" + std::to_string(slot) + ".err"));
}

bool PcscdHarness::WaitForCard(int slot, bool present, std::chrono::milliseconds timeout) {
  const auto i = static_cast<std::size_t>(slot);
  // A card that leaves during a command shows as gone at once, but the daemon's own watch may
  // not have seen it leave yet; it would then miss the next card. So an empty reader counts
  // once the daemon has counted an event since the card came.
  const std::optional<DWORD> oldEvents = present ? std::nullopt : events_[i];
  const std::optional<DWORD> events = WaitForReaderState(kReaderNames.at(i), present, oldEvents, timeout);
  if (events) events_[i] = *events;
  return events.has_value();
}

}  // namespace zivra::test
