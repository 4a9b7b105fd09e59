#include "server/http_framing.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/memory_channel.h"

namespace zivra::server {
namespace {

using test::MemoryChannel;

TEST(ReadRequest, ReassemblesAHeadSentInSeveralPieces) {
  MemoryChannel ch({"GET /?getversion HT", "TP/1.1\r\nHost: local", "host\r\n", "\r\n"});
  EXPECT_EQ(ReadRequest(ch), "GET /?getversion HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

TEST(ReadRequest, ContentLengthCases) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"body in a later piece", {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n", "hello"},
       "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"},
      {"body split over pieces", {"POST / HTTP/1.1\r\nContent-Length:  5\r\n\r\nhe", "l", "lo"},
       "POST / HTTP/1.1\r\nContent-Length:  5\r\n\r\nhello"},
      {"bytes beyond the length in the same piece stay",
       {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef"},
       "POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef"},
      {"lower-case name is not the length", {"POST / HTTP/1.1\r\ncontent-length: 5\r\n\r\nab"},
       "POST / HTTP/1.1\r\ncontent-length: 5\r\n\r\nab"},
      {"blank before the colon is another name", {"POST / HTTP/1.1\r\nContent-Length : 9\r\n\r\n"},
       "POST / HTTP/1.1\r\nContent-Length : 9\r\n\r\n"},
      {"a later header replaces an earlier one",
       {"POST / HTTP/1.1\r\nContent-Length: 9\r\nContent-Length: 1\r\n\r\n", "x"},
       "POST / HTTP/1.1\r\nContent-Length: 9\r\nContent-Length: 1\r\n\r\nx"},
      {"digits then letters", {"POST / HTTP/1.1\r\nContent-Length: 3abc\r\n\r\n", "xyz"},
       "POST / HTTP/1.1\r\nContent-Length: 3abc\r\n\r\nxyz"},
  };
  for (const Case& c : cases) {
    MemoryChannel ch(c.pieces);
    EXPECT_EQ(ReadRequest(ch), c.expected) << c.name;
  }
}

TEST(ReadRequest, ConversionErrorsOfContentLength) {
  MemoryChannel letters({"POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n"});
  EXPECT_THROW(ReadRequest(letters), std::invalid_argument);
  MemoryChannel huge({"POST / HTTP/1.1\r\nContent-Length: 4294967296\r\n\r\n"});
  EXPECT_THROW(ReadRequest(huge), std::out_of_range);
  MemoryChannel tooMany({"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"});
  EXPECT_THROW(ReadRequest(tooMany), std::out_of_range);
}

TEST(ReadRequest, BoundsTheHeadAndTheBody) {
  MemoryChannel bigBody({"POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"});
  EXPECT_THROW(ReadRequest(bigBody), std::runtime_error);
  // A body of exactly the bound is read.
  MemoryChannel maxBody({"POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n",
                         std::string(kMaxBodyBytes, 'b')});
  EXPECT_EQ(ReadRequest(maxBody).size(), 44 + kMaxBodyBytes);

  std::vector<std::string> endless(40, std::string(1024, 'h'));
  MemoryChannel bigHead(endless);
  EXPECT_THROW(ReadRequest(bigHead), std::runtime_error);
  EXPECT_LE(bigHead.reads, 18);  // stops soon after the 16 KiB bound, not at the peer's close
}

TEST(ReadRequest, PeerCloseAndFailureCarryTheLibraryText) {
  MemoryChannel closed({"GET / HTTP/1.1\r\n"});
  try {
    ReadRequest(closed);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "empty BIO_read\nlibrary error text");
  }
  MemoryChannel failed({"GET"}, /*failAtEnd=*/true);
  try {
    ReadRequest(failed);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "error in BIO_read\nlibrary error text");
  }
}

TEST(ReadRequest, NulBeforeTheBlankLineHidesIt) {
  MemoryChannel ch({std::string("GET /\0 HTTP/1.1\r\n\r\n", 20)});
  EXPECT_THROW(ReadRequest(ch), std::runtime_error);
}

TEST(HeaderLines, SplitsOnCrLfAndDropsTheUnterminatedRest) {
  EXPECT_EQ(HeaderLines("a\r\nb: c\r\n\r\nrest"), (std::vector<std::string>{"a", "b: c", ""}));
  EXPECT_EQ(HeaderLines(std::string_view("x\r\ny\0z\r\n", 8)), (std::vector<std::string>{"x"}));
  EXPECT_TRUE(HeaderLines("no line end").empty());
}

TEST(WriteReply, HeadThenBodyThenFlush) {
  MemoryChannel ch({});
  WriteReply(ch, "bye\n");
  EXPECT_EQ(ch.writes, (std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", "bye\n",
                                                 "<flush>"}));
  MemoryChannel empty({});
  WriteReply(empty, "");
  EXPECT_EQ(empty.Written(), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(empty.writes.back(), "<flush>");
}

}  // namespace
}  // namespace zivra::server
