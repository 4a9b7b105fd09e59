#include "common/log_writer.h"

#include <cstdio>
#include <ctime>

#include "platform/exe_folder.h"

namespace zivra {

int LogWriter::FormatTimestamp(char (&buffer)[80]) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (std::strftime(buffer, sizeof buffer, "%F %T", &local) == 0) buffer[0] = '\0';
  return 0;
}

std::string LogWriter::FormatLine(std::string_view timestamp, std::string_view module,
                                  std::string_view level, std::string_view message) {
  std::string raw;
  raw.reserve(timestamp.size() + module.size() + level.size() + message.size() + 8);
  raw.append(timestamp).append(" [").append(module).append("]:").append(level).append(":");
  raw.append(message).append("\n");
  // Text-mode line ends: every LF is stored as CR LF, on every platform.
  std::string line;
  line.reserve(raw.size() + 4);
  for (char c : raw) {
    if (c == '\n') line.push_back('\r');
    line.push_back(c);
  }
  return line;
}

std::string LogWriter::PathFor(int target) const {
  const std::string folder = folder_.empty() ? platform::ExecutableFolder() : folder_;
  return folder + std::string(target == kDebugLog ? kDebugLogName : kSystemLogName);
}

int LogWriter::WriteLog(std::string_view module, std::string_view level, std::string_view message,
                        int target) const {
  char stamp[80];
  FormatTimestamp(stamp);
  const std::string line = FormatLine(stamp, module, level, message);
  const std::string path = PathFor(target);
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    std::fputs("Failed to open file.\n", stdout);
    std::fflush(stdout);
    return 0;
  }
  // The line goes out in one write, which keeps lines of concurrent writers from interleaving.
  std::setvbuf(file, nullptr, _IOFBF, line.size() + 1);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  return 0;
}

}  // namespace zivra
