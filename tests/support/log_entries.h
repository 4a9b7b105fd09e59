#pragma once
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace zivra::test {

// The lines of a log file with their time stamps checked and cut off: "[module]:level:message".
inline std::vector<std::string> LogEntries(const std::string& text) {
  static const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
  std::vector<std::string> entries;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    entries.push_back(line.size() >= 20 ? line.substr(20) : line);
  }
  EXPECT_EQ(start, text.size()) << "log ends without CR LF";
  return entries;
}

// Big5 (code page 950) bytes of a UTF-8 text as iconv gives them.
inline std::string Big5(const std::string& utf8) {
  ScratchDir dir("zivra-iconv");
  WriteFile(dir.Path() / "in", utf8);
  const CommandResult r = RunCommand({"iconv", "-f", "UTF-8", "-t", "CP950", (dir.Path() / "in").string()});
  EXPECT_EQ(r.exitCode, 0);
  return r.output;
}

}  // namespace zivra::test
