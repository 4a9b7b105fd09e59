#include "server/router.h"

#include <array>
#include <fstream>
#include <vector>

#include "server/http_framing.h"

namespace zivra::server {
namespace {

struct CommandWord {
  std::string_view word;
  RequestCommand command;
};

// In the order of comparison; the first that matches wins.
constexpr std::array<CommandWord, 5> kWords{{
    {"GetCardID", RequestCommand::GetCardId},
    {"close", RequestCommand::Close},
    {"EnvTest.html", RequestCommand::EnvTestPage},
    {"getversion", RequestCommand::GetVersion},
    {"TestGetCardID", RequestCommand::TestGetCardId},
}};

// Where a word starts after the method: query words follow "/?", the page follows "/".
std::size_t WordPosition(std::string_view method, RequestCommand command) {
  const std::size_t afterSlash = method.size() + 2;
  return command == RequestCommand::EnvTestPage ? afterSlash : afterSlash + 1;
}

RequestCommand MatchWords(const std::string& line, std::string_view method) {
  for (const CommandWord& w : kWords) {
    // substr throws std::out_of_range when the position lies beyond the line's end.
    if (line.substr(WordPosition(method, w.command), w.word.size()) == w.word) return w.command;
  }
  return RequestCommand::ParameterIncorrect;
}

}  // namespace

RequestCommand RecognizeCommand(std::string_view request) {
  std::size_t start = 0;
  for (std::size_t end; (end = request.find('\n', start)) != std::string_view::npos; start = end + 1) {
    const std::string line(request.substr(start, end - start));
    if (line.starts_with("GET")) return MatchWords(line, "GET");
    if (line.starts_with("POST")) return MatchWords(line, "POST");
    if (line.starts_with("OPTIONS")) return MatchWords(line, "OPTIONS");
  }
  return RequestCommand::Close;
}

std::string ReadTextFile(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  text.reserve(limit);
  char c;
  bool carriageReturn = false;
  while (text.size() < limit && in.get(c)) {
    if (carriageReturn) {
      carriageReturn = false;
      if (c != '\n') text.push_back('\r');
      if (text.size() == limit) break;
    }
    if (c == '\r') {
      carriageReturn = true;
      continue;
    }
    text.push_back(c);
  }
  if (carriageReturn && text.size() < limit) text.push_back('\r');
  return text.substr(0, text.find('\0'));
}

bool Router::HandleRequest(Channel& channel) {
  const std::string request = ReadRequest(channel);
  channel.Write(kPrelude);
  switch (RecognizeCommand(request)) {
    case RequestCommand::GetCardId:
    case RequestCommand::TestGetCardId:
      WriteReply(channel, card_.ReadCardNumber());
      return false;
    case RequestCommand::ParameterIncorrect:
      WriteReply(channel, "Parameter incorrect\n");
      return false;
    case RequestCommand::Close:
      WriteReply(channel, "bye\n");
      return true;
    case RequestCommand::EnvTestPage:
      WriteReply(channel, ReadTextFile(folder_ + "EnvTest.html", kEnvPageSize));
      return false;
    case RequestCommand::GetVersion:
      WriteReply(channel, ReadTextFile(folder_ + "Version.txt", kVersionSize));
      return false;
  }
  return false;
}

}  // namespace zivra::server
