#pragma once
#include <string>
#include <string_view>

namespace zivra {

inline constexpr int kDebugLog = 1;   // "zivraDebug.txt"
inline constexpr int kSystemLog = 0;  // "SysLog.txt" (any target other than 1)

inline constexpr std::string_view kDebugLogName = "zivraDebug.txt";
inline constexpr std::string_view kSystemLogName = "SysLog.txt";

// Appends one line "YYYY-MM-DD HH:MM:SS [module]:level:message" to a log file beside the
// executable. Bytes are written unchanged (the Chinese messages are Big5); every line break is
// stored as CR LF. The file is opened and closed on each call, so several processes may append
// to the same log.
class LogWriter {
 public:
  LogWriter() = default;
  // Writes into `folder` (with its trailing '/') instead of the executable's folder.
  explicit LogWriter(std::string folder) : folder_(std::move(folder)) {}

  int WriteLog(std::string_view module, std::string_view level, std::string_view message,
               int target) const;

  // Current local time as "%F %T" into an 80-character buffer.
  static int FormatTimestamp(char (&buffer)[80]);

  // The line as it is stored, CR LF included; exposed for tests.
  static std::string FormatLine(std::string_view timestamp, std::string_view module,
                                std::string_view level, std::string_view message);

  std::string PathFor(int target) const;

 private:
  std::string folder_;
};

}  // namespace zivra
