// zivraBrowserServer: serves the local HTTPS interface on a thread of its own; the main thread
// waits for a quit request. After a quit request the process lives on while the server thread
// serves; after a close request it lives on without a listener until it is ended.
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "common/log_writer.h"
#include "platform/exe_folder.h"
#include "platform/quit_wait.h"
#include "resources/texts.h"
#include "server/card_access.h"
#include "server/https_server.h"

namespace {

// Debug mode: the command line begins with the five characters "Debug".
int DebugModeFrom(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line.compare(0, 5, "Debug") == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zivra;
  const int debugMode = DebugModeFrom(argc, argv);
  const LogWriter log;
  platform::PrepareQuitWait();

  const std::string folder = platform::ExecutableFolder();
  auto card = server::MakeCardReader();
  server::HttpsServer httpsServer(folder, *card);

  std::thread serverThread;
  try {
    serverThread = std::thread([&httpsServer, debugMode] { httpsServer.Run(debugMode); });
  } catch (const std::system_error&) {
    log.WriteLog("zivraBrowserServer", "error", big5::ComponentStartFailed, kSystemLog);
    if (debugMode == 1) log.WriteLog("zivraBrowserServer", "error", big5::ComponentStartFailed, kDebugLog);
    return 0;
  }
  if (debugMode == 1) log.WriteLog("zivraBrowserServer", "debug", big5::ComponentStarted, kDebugLog);

  platform::WaitForQuitRequest();
  serverThread.join();
  return 0;
}
