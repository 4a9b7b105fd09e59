#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "common/log_writer.h"
#include "server/card_reader.h"

namespace zivra::server {

inline constexpr std::uint16_t kServerPort = 32860;
// A client must complete its TLS handshake and request within this time once it sends its first
// byte; a connection that sends nothing is dropped after kIdleLimit without holding anyone up.
inline constexpr std::chrono::milliseconds kRequestDeadline{5000};
inline constexpr std::chrono::milliseconds kIdleLimit{10000};
// Time allowed for each write of a reply.
inline constexpr std::chrono::milliseconds kReplyDeadline{5000};

// The server thread's work: TLS context from "server.crt" and "server.key" in `folder`, a
// listener on the loopback addresses, and one request per connection, strictly in turn.
class HttpsServer {
 public:
  enum RunResult : int {
    Ended = 0,            // close request, or waiting for a connection failed
    CertificateError = 1,
    KeyError = 2,
    PortError = 3,        // the port could not be opened; the thread ends
  };

  HttpsServer(std::string folder, CardReader& card) : folder_(std::move(folder)), card_(card) {}
  virtual ~HttpsServer() = default;

  int Run(int debug);

 private:
  std::string folder_;
  CardReader& card_;
  LogWriter log_;
};

}  // namespace zivra::server
