#include "server/router.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/log_writer.h"
#include "tests/support/memory_channel.h"
#include "tests/support/files.h"

namespace zivra::server {
namespace {

using test::MemoryChannel;

TEST(RecognizeCommand, WordsAtTheirPositions) {
  struct Case {
    const char* request;
    RequestCommand expected;
  };
  const Case cases[] = {
      {"GET /?GetCardID HTTP/1.1\r\n\r\n", RequestCommand::GetCardId},
      {"POST /?GetCardID HTTP/1.1\r\n\r\n", RequestCommand::GetCardId},
      {"OPTIONS /?GetCardID HTTP/1.1\r\n\r\n", RequestCommand::GetCardId},
      {"GET /?GetCardIDxyz HTTP/1.1\r\n\r\n", RequestCommand::GetCardId},
      {"GET /xGetCardID HTTP/1.1\r\n\r\n", RequestCommand::GetCardId},
      {"GET /?TestGetCardID HTTP/1.1\r\n\r\n", RequestCommand::TestGetCardId},
      {"POST /?TestGetCardID HTTP/1.1\r\n\r\n", RequestCommand::TestGetCardId},
      {"GET /?getcardid HTTP/1.1\r\n\r\n", RequestCommand::ParameterIncorrect},
      {"GET /?close HTTP/1.1\r\n\r\n", RequestCommand::Close},
      {"OPTIONS /?close HTTP/1.1\r\n\r\n", RequestCommand::Close},
      {"GET /EnvTest.html HTTP/1.1\r\n\r\n", RequestCommand::EnvTestPage},
      {"POST /EnvTest.html HTTP/1.1\r\n\r\n", RequestCommand::EnvTestPage},
      {"GET /?EnvTest.html HTTP/1.1\r\n\r\n", RequestCommand::ParameterIncorrect},
      {"GET /?getversion HTTP/1.1\r\n\r\n", RequestCommand::GetVersion},
      {"OPTIONS /?getversion HTTP/1.1\r\n\r\n", RequestCommand::GetVersion},
      {"GET / HTTP/1.1\r\n\r\n", RequestCommand::ParameterIncorrect},
      {"GET /?GetVersion HTTP/1.1\r\n\r\n", RequestCommand::ParameterIncorrect},
      {"HEAD / HTTP/1.1\r\n\r\n", RequestCommand::Close},
      {"PUT / HTTP/1.1\r\n\r\nGET /?getversion HTTP/1.1\n", RequestCommand::GetVersion},
      // A last line without LF is not examined.
      {"PUT / HTTP/1.1\r\n\r\nGET /?getversion", RequestCommand::Close},
      // Only the first GET/POST/OPTIONS line decides.
      {"GET / HTTP/1.1\r\nGET /?close\r\n", RequestCommand::ParameterIncorrect},
      // Position exactly at the end of the line: an empty word, which matches nothing.
      {"GET /?\n", RequestCommand::ParameterIncorrect},
  };
  for (const Case& c : cases) EXPECT_EQ(RecognizeCommand(c.request), c.expected) << c.request;
}

TEST(RecognizeCommand, LineTooShortForAComparisonThrows) {
  EXPECT_THROW(RecognizeCommand("GET\r\n\r\n"), std::out_of_range);      // "GET\r" is 4 long
  EXPECT_THROW(RecognizeCommand("OPTIONS /\n"), std::out_of_range);
  EXPECT_THROW(RecognizeCommand("GET /\n"), std::out_of_range);
  EXPECT_NO_THROW(RecognizeCommand("OPTIONS /?\n"));
}

class FakeCard final : public CardReader {
 public:
  std::string ReadCardNumber() override {
    ++reads;
    return "0123456789ABCDEF";
  }
  int reads = 0;
};

TEST(HandleRequest, WritesThePreludeThenTheReply) {
  test::ScratchDir dir;
  test::WriteFile(dir.Path() / "Version.txt", "0180");
  FakeCard card;
  Router router(dir.Folder(), card);

  MemoryChannel version({"GET /?getversion HTTP/1.1\r\n\r\n"});
  EXPECT_FALSE(router.HandleRequest(version));
  EXPECT_EQ(version.Written(), std::string(kPrelude) + "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n0180");
  EXPECT_EQ(version.writes.front(), kPrelude);

  MemoryChannel cardRead({"OPTIONS /?GetCardID HTTP/1.1\r\n\r\n"});
  EXPECT_FALSE(router.HandleRequest(cardRead));
  EXPECT_EQ(cardRead.Written(),
            std::string(kPrelude) + "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n0123456789ABCDEF");
  EXPECT_EQ(card.reads, 1);

  MemoryChannel close({"POST /?close HTTP/1.1\r\nContent-Length: 0\r\n\r\n"});
  EXPECT_TRUE(router.HandleRequest(close));
  EXPECT_EQ(close.Written(), std::string(kPrelude) + "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbye\n");
}

TEST(HandleRequest, NothingIsWrittenWhenTheRequestCannotBeRead) {
  test::ScratchDir dir;
  FakeCard card;
  Router router(dir.Folder(), card);
  MemoryChannel cut({"GET /?getversion HTTP/1.1\r\n"});
  EXPECT_THROW(router.HandleRequest(cut), std::runtime_error);
  EXPECT_TRUE(cut.writes.empty());
  MemoryChannel shortLine({"GET\r\n\r\n"});
  EXPECT_THROW(router.HandleRequest(shortLine), std::out_of_range);
  EXPECT_EQ(shortLine.Written(), kPrelude);
}

TEST(ReadTextFile, TextModeAndBounds) {
  test::ScratchDir dir;
  const auto path = (dir.Path() / "f").string();
  struct Case {
    std::string content;
    std::size_t limit;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a\r\nb\r\n", 100, "a\nb\n"},
      {"a\rb\r", 100, "a\rb\r"},
      {"0180", 5, "0180"},
      {"018\0" "0", 5, "018"},
      {std::string("01234567"), 5, "01234"},
      {"\r\n\r\n\r\n\r\n\r\n\r\n", 5, "\n\n\n\n\n"},
  };
  for (const Case& c : cases) {
    test::WriteFile(path, c.content);
    EXPECT_EQ(ReadTextFile(path, c.limit), c.expected) << c.content;
  }
  EXPECT_EQ(ReadTextFile((dir.Path() / "missing").string(), 5), "");
}

TEST(LogWriter, LineFormatAndTargets) {
  EXPECT_EQ(LogWriter::FormatLine("2023-02-21 06:52:44", "smartCard", "error", "SCardEstablishContext Fail"),
            "2023-02-21 06:52:44 [smartCard]:error:SCardEstablishContext Fail\r\n");
  EXPECT_EQ(LogWriter::FormatLine("T", "", "debug", ""), "T []:debug:\r\n");
  EXPECT_EQ(LogWriter::FormatLine("T", "m", "l", "one\ntwo"), "T [m]:l:one\r\ntwo\r\n");

  test::ScratchDir dir;
  const LogWriter log(dir.Folder());
  for (int target : {1, 0, 2, -1}) log.WriteLog("m", "l", "x", target);
  const std::string debug = test::ReadFile(dir.Path() / "zivraDebug.txt");
  const std::string system = test::ReadFile(dir.Path() / "SysLog.txt");
  EXPECT_EQ(debug.size(), 29u);  // "YYYY-MM-DD HH:MM:SS [m]:l:x\r\n"
  EXPECT_EQ(system.size(), 3 * 29u);
  for (std::size_t at = 0; at < system.size(); at += 29) {
    EXPECT_EQ(system.substr(at + 19, 10), " [m]:l:x\r\n");
  }
}

TEST(LogWriter, Big5BytesPassUnchanged) {
  test::ScratchDir dir;
  const LogWriter log(dir.Folder());
  const std::string big5 = "\xa4\xb8\xa5\xf3\xb1\xd2\xb0\xca\xa6\xa8\xa5\x5c";  // 元件啟動成功
  log.WriteLog("zivraBrowserServer", "debug", big5, 1);
  EXPECT_EQ(test::ReadFile(dir.Path() / "zivraDebug.txt").substr(19),
            " [zivraBrowserServer]:debug:" + big5 + "\r\n");
}

TEST(LogWriter, UnwritableFolderLosesTheLineQuietly) {
  const LogWriter log("/nonexistent-folder/");
  testing::internal::CaptureStdout();
  EXPECT_EQ(log.WriteLog("m", "l", "x", 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to open file.\n");
}

}  // namespace
}  // namespace zivra::server
