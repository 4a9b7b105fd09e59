#include "tests/support/server_fixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace zivra::test {

void ServerFixture::StartServer(const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& env, bool waitForListener) {
  server_ = Process(install_.Program("zivraBrowserServer"),
                    Process::Options{args, env, {}, "/", install_.Folder() + "server"});
  if (waitForListener) {
    WaitUntil([this] { return Listening() || !server_.Running(); }, std::chrono::seconds(10));
  }
}

std::vector<std::string> ListeningAddresses(std::uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  std::vector<std::string> addresses;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state == "0A" && local.ends_with(suffix)) addresses.push_back(local.substr(0, local.find(':')));
    }
  }
  return addresses;
}

int ListeningSockets(std::uint16_t port) { return static_cast<int>(ListeningAddresses(port).size()); }

std::string ServerFixture::Ask(const std::string& request, const std::string& host) {
  const TlsResult r = HttpsExchange(host, kPort, request, Certificates().caCert.string());
  EXPECT_TRUE(r.handshake) << r.error;
  return r.reply;
}

std::string ExpectedReply(const std::string& body) {
  return "HTTP/1.1 200 Connection established\r\nAccess-Control-Allow-Origin: *\r\n"
         "Access-Control-Allow-Headers: *HTTP/1.1 200 OK\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace zivra::test
