#pragma once
#include <cstdint>
#include <string>

namespace zivra::platform {

struct UnpackLimits {
  std::uint64_t maxEntries = 10000;
  std::uint64_t maxTotalBytes = std::uint64_t{1} << 30;  // uncompressed bytes of all entries
};

// Reads the zip archive `archivePath` to its end and writes its entries below the existing,
// empty folder `destination`. Every entry must be a regular file or a folder whose relative
// path stays inside the destination: an absolute path, a ".." or "." component, a backslash, a
// symbolic or hard link, a damaged entry (bad checksum, cut short) or going over `limits` fails
// the whole archive. Set-id bits are dropped. Returns false with `error` set on failure; what was
// written by then stays for the caller to remove.
//
// Changes the current directory for the duration of the call (the secure extraction works
// relative to it), so it is for single-threaded callers.
bool UnpackZip(const std::string& archivePath, const std::string& destination, std::string& error,
               const UnpackLimits& limits = {});

}  // namespace zivra::platform
