#include "platform/exe_folder.h"

#include <unistd.h>

#include <array>

namespace zivra::platform {

std::string ExecutableFolder() {
  std::array<char, 4096> path{};
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  std::string full(path.data(), static_cast<std::size_t>(n));
  const auto slash = full.rfind('/');
  if (slash == std::string::npos) return {};
  full.resize(slash + 1);
  return full;
}

}  // namespace zivra::platform
