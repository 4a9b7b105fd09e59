#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zivra {

// The update host publishes "CurVersion.txt" under this path: four digits, CR LF, and the
// update archive's path relative to the same base path.
inline constexpr std::string_view kUpdateBasePath = "/zivra_reader/";
inline constexpr std::string_view kPublishedVersionFile = "CurVersion.txt";
inline constexpr std::string_view kInstalledVersionFile = "Version.txt";

inline constexpr std::size_t kDownloadBufferSize = 1024;
using DownloadBuffer = std::array<char, kDownloadBufferSize>;

// "https://<update host>/zivra_reader/", the host fixed when the programs are built.
std::string UpdateBaseUrl();
// The URL of "CurVersion.txt" on the update host.
std::string PublishedVersionUrl();
// The CA file that the update host's certificate is checked against; empty: the system's store.
std::string UpdateCaFile();

// Fetches `url` into `buffer`, which the caller has zero-filled: on success the buffer holds the
// start of the body (at most 1023 bytes, so the text stays NUL-terminated); on any failure (no
// connection, TLS refused, a status other than 200, a transfer cut short) it is left as it was.
void DownloadToBuffer(const char* url, DownloadBuffer& buffer);

// The text of the published version file, or empty when it cannot be fetched. Each call fetches
// it anew; tests pass their own source to the functions below.
std::string FetchPublishedText();
using PublishedSource = std::function<std::string()>;

// The first four characters of the published version file (all of it when shorter), or empty.
std::string GetPublishedVersion(const PublishedSource& source = FetchPublishedText);

// 1 when the installed version (the last line of "Version.txt" beside the executable that holds
// anything) is lower than `published`, otherwise 0. Either text not being a version number
// (empty, an error page, out of range) gives 0: no newer version.
int CompareVersion(std::string published);
int CompareVersion(std::string published, const std::string& installedVersionFile);

// The published version file's text from its seventh character on, unchanged (empty when it is
// shorter). Fetches the file anew.
std::string GetArchiveName(const PublishedSource& source = FetchPublishedText);

// A version number as the programs read one: leading white space skipped, an optional sign,
// then decimal digits up to the first other character. Nothing when there are no digits or the
// number does not fit a signed 32-bit integer.
std::optional<std::int32_t> ParseVersion(std::string_view text);

// The installed version text from the contents of "Version.txt": its last line that holds
// anything besides a line break (CR LF or LF), or empty.
std::string InstalledVersionText(std::string_view fileContents);

// True when `path` can be appended to the base URL as it is: printable ASCII without blanks, not
// absolute ('/'), no scheme, no backslash, no ".." (plain or percent-encoded).
bool IsSafeArchivePath(std::string_view path);

}  // namespace zivra
