#pragma once
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace zivra::platform {

// How a download reaches its host. Only https is used, TLS 1.2 or later, the host's certificate
// checked against `caFile` (empty: the system's trust store). Redirects are followed to https
// locations only. No environment variable (proxy settings included) changes any of this.
struct DownloadOptions {
  std::string caFile;
  std::chrono::seconds connectTimeout{15};
  std::chrono::seconds totalTimeout{60};
  std::chrono::seconds stallTimeout{60};  // a transfer that moves no byte for this long ends
  std::size_t maxBytes = 1024;  // bytes of the body kept (text) or accepted (file)
};

// One GET request whose body is kept in memory: at most `maxBytes`, the rest of a longer body is
// not read. Nothing (nullopt) when the host cannot be reached, TLS fails, the reply's status is
// not 200 or the transfer breaks off before the body ends.
std::optional<std::string> DownloadText(const std::string& url, const DownloadOptions& options);

// One GET request whose body is written to `path` (created or replaced). False on any failure,
// as above, or when the body is larger than `maxBytes` or cannot be written; the file is then
// removed.
bool DownloadFile(const std::string& url, const std::string& path, const DownloadOptions& options);

}  // namespace zivra::platform
