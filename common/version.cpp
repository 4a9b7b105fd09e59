#include "common/version.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/download.h"
#include "platform/exe_folder.h"

#ifndef ZIVRA_UPDATE_HOST
#error "ZIVRA_UPDATE_HOST must name the update host"
#endif
#ifndef ZIVRA_UPDATE_CA_FILE
#define ZIVRA_UPDATE_CA_FILE ""
#endif

namespace zivra {
namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kTotalTimeout{30};

}  // namespace

std::string UpdateBaseUrl() { return std::string("https://") + ZIVRA_UPDATE_HOST + std::string(kUpdateBasePath); }

std::string PublishedVersionUrl() { return UpdateBaseUrl() + std::string(kPublishedVersionFile); }

std::string UpdateCaFile() { return ZIVRA_UPDATE_CA_FILE; }

void DownloadToBuffer(const char* url, DownloadBuffer& buffer) {
  platform::DownloadOptions options;
  options.caFile = UpdateCaFile();
  options.connectTimeout = kConnectTimeout;
  options.totalTimeout = kTotalTimeout;
  options.maxBytes = buffer.size() - 1;  // the last byte stays NUL
  const std::optional<std::string> body = platform::DownloadText(url, options);
  if (!body) return;
  DownloadBuffer local{};
  std::memcpy(local.data(), body->data(), body->size());
  buffer = local;
}

std::string FetchPublishedText() {
  DownloadBuffer buffer{};
  DownloadToBuffer(PublishedVersionUrl().c_str(), buffer);
  return std::string(buffer.data());  // up to the first NUL byte
}

std::string GetPublishedVersion(const PublishedSource& source) { return source().substr(0, 4); }

std::optional<std::int32_t> ParseVersion(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digitsStart = i;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (i == digitsStart) return std::nullopt;
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string InstalledVersionText(std::string_view contents) {
  std::string last;
  std::istringstream lines{std::string(contents)};
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) last = line;
  }
  return last;
}

int CompareVersion(std::string published, const std::string& installedVersionFile) {
  std::string contents;
  if (std::ifstream in{installedVersionFile, std::ios::binary}) {
    std::ostringstream s;
    s << in.rdbuf();
    contents = s.str();
    // The lines read are echoed, which helps when the programs run from a terminal.
    std::istringstream lines(contents);
    for (std::string line; std::getline(lines, line);) std::cout << line << "\n";
    std::cout.flush();
  }
  if (published.empty()) return 0;
  const std::optional<std::int32_t> newest = ParseVersion(published);
  const std::optional<std::int32_t> installed = ParseVersion(InstalledVersionText(contents));
  if (!newest || !installed) return 0;
  return *installed < *newest ? 1 : 0;
}

int CompareVersion(std::string published) {
  const std::string folder = platform::ExecutableFolder();
  if (folder.empty()) return 0;
  return CompareVersion(std::move(published), folder + std::string(kInstalledVersionFile));
}

std::string GetArchiveName(const PublishedSource& source) {
  const std::string text = source();
  return text.size() > 6 ? text.substr(6) : std::string();
}

bool IsSafeArchivePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  for (const char c : path) {
    if (c <= 0x20 || c >= 0x7f || c == '\\') return false;
  }
  // A scheme ("https:", "file:") would make the path a URL of its own.
  if (path.find(':') != std::string_view::npos) return false;
  if (path.find("..") != std::string_view::npos) return false;
  std::string lower(path);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("%2e") == std::string::npos;
}

}  // namespace zivra
