// cardsim: a virtual card for the virtual reader driver of the PC/SC daemon (vpcd). It connects
// to the driver's TCP port, which is the card being placed on the reader, answers the driver's
// messages, and leaves (closes the connection) when told to or when the driver goes.
//
// The driver's protocol: each message is a two-byte big-endian length and a payload. A one-byte
// payload is a control (00 power off, 01 power on, 02 reset, 04 get ATR, answered with the ATR);
// a longer one is a command APDU, answered with the response APDU.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "tools/cardsim/virtual_card.h"

namespace {

using zivra::cardsim::Bytes;
using zivra::cardsim::CardConfig;

constexpr const char* kUsage =
    "usage: cardsim --port P [--host 127.0.0.1] [--reader direct|applet] [--card system|family|foreign]\n"
    "               [--number 16-HEX-DIGITS] [--fail-read] [--leave-after N] [--atr t1|t0] [--quiet]\n"
    "  --reader direct   the reader passes class 0x90 to the card (default)\n"
    "  --reader applet   the reader answers class 0x90 with 6E 00 and relays through \"DesfireApplet\"\n"
    "  --card system     a card with the system's application (default); family: one without it;\n"
    "                    foreign: a card of another kind\n"
    "  --fail-read       the card refuses to read its number file\n"
    "  --leave-after N   the card leaves the reader when command N+1 comes\n"
    "  --atr t1|t0       the ATR offers T=1 (3B 81 80 01 80 80, default) or T=0 only (3B 00)\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  CardConfig card;
  std::optional<long> leaveAfter;
  bool quiet = false;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "cardsim: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

std::optional<Bytes> ParseHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string two = text.substr(i, 2);
    const unsigned long v = std::strtoul(two.c_str(), &end, 16);
    if (end != two.c_str() + 2) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(v));
  }
  return bytes;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--host") {
      o.host = value();
    } else if (arg == "--port") {
      o.port = std::atoi(value().c_str());
    } else if (arg == "--reader") {
      const std::string v = value();
      if (v == "direct") o.card.reader = CardConfig::Reader::Direct;
      else if (v == "applet") o.card.reader = CardConfig::Reader::Applet;
      else Usage("unknown reader " + v);
    } else if (arg == "--card") {
      const std::string v = value();
      if (v == "system") o.card.kind = CardConfig::Kind::System;
      else if (v == "family") o.card.kind = CardConfig::Kind::Family;
      else if (v == "foreign") o.card.kind = CardConfig::Kind::Foreign;
      else Usage("unknown card " + v);
    } else if (arg == "--number") {
      const auto n = ParseHex(value());
      if (!n || n->size() != 8) Usage("--number takes 16 hexadecimal digits");
      o.card.number = *n;
    } else if (arg == "--fail-read") {
      o.card.failRead = true;
    } else if (arg == "--leave-after") {
      o.leaveAfter = std::atol(value().c_str());
    } else if (arg == "--atr") {
      const std::string v = value();
      if (v == "t0") o.card.t0 = true;
      else if (v == "t1") o.card.t0 = false;
      else Usage("unknown ATR " + v);
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (o.port <= 0 || o.port > 65535) Usage("--port is needed");
  return o;
}

// The driver listens once its reader exists; keep trying for a while.
int ConnectToDriver(const Options& o) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
  if (::inet_pton(AF_INET, o.host.c_str(), &addr.sin_addr) != 1) Usage("--host takes an IPv4 address");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    ::close(fd);
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool ReadFully(int fd, std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    // The driver writes each message in two pieces without TCP_NODELAY; acknowledging at once
    // keeps it from waiting for the delayed ACK on every command.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool Send(int fd, const Bytes& payload) {
  Bytes message{static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size())};
  message.insert(message.end(), payload.begin(), payload.end());
  return ::send(fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

std::string Hex(const Bytes& b) {
  std::string s;
  char two[4];
  for (const std::uint8_t v : b) {
    std::snprintf(two, sizeof two, "%02X ", v);
    s += two;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  zivra::cardsim::VirtualCard card(o.card);
  const int fd = ConnectToDriver(o);
  if (fd < 0) {
    std::fprintf(stderr, "cardsim: cannot reach the reader driver at %s:%d\n", o.host.c_str(), o.port);
    return 1;
  }
  if (!o.quiet) std::fprintf(stderr, "cardsim: on the reader at %s:%d\n", o.host.c_str(), o.port);
  long commands = 0;
  bool announced = false;
  while (true) {
    std::uint8_t head[2];
    if (!ReadFully(fd, head, 2)) break;  // the driver went away
    Bytes payload(static_cast<std::size_t>(head[0] << 8 | head[1]));
    if (!ReadFully(fd, payload.data(), payload.size())) break;
    if (payload.empty()) continue;
    if (payload.size() == 1) {
      switch (payload[0]) {
        case 0x00:
        case 0x01:
        case 0x02:
          card.Reset();
          break;
        case 0x04:
          if (!Send(fd, card.Atr())) return 1;
          if (!announced && !o.quiet) std::fprintf(stderr, "cardsim: ATR sent, the reader has the card\n");
          announced = true;
          break;
        default:
          break;
      }
      continue;
    }
    if (o.leaveAfter && commands >= *o.leaveAfter) {
      if (!o.quiet) std::fprintf(stderr, "> %s\ncardsim: leaving the reader\n", Hex(payload).c_str());
      break;
    }
    ++commands;
    const Bytes answer = card.Answer(payload);
    if (!o.quiet) std::fprintf(stderr, "> %s\n< %s\n", Hex(payload).c_str(), Hex(answer).c_str());
    if (!Send(fd, answer)) break;
  }
  ::close(fd);
  return 0;
}
