#include "platform/markers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zivra::platform {
namespace {

// Open-file-description locks: held by this open file, not by the process, so a second open in
// the same process meets the first like another process would, and closing some other
// descriptor of the file never drops them. Changing the kind of a held lock is atomic.
bool SetLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool SafeOwnFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

}  // namespace

std::string MarkerFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string folder(runtime);
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  const std::string fallback = "/tmp/zivra-" + std::to_string(::geteuid());
  if (::mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return {};
  if (!SafeOwnFolder(fallback)) return {};
  return fallback + "/";
}

Marker::Marker(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") return;
  const std::string folder = MarkerFolder();
  if (folder.empty()) return;
  const std::string path = folder + std::string(name);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  if (SetLock(fd_, F_WRLCK)) {
    // Nobody held it. Keep holding it, shared, so that the next one sees it.
    alreadyExisted_ = false;
    if (SetLock(fd_, F_RDLCK)) return;
  } else if (errno == EAGAIN || errno == EACCES) {
    alreadyExisted_ = true;
    // Another holder may be in the middle of its own check, holding the lock alone for a moment.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
      if (SetLock(fd_, F_RDLCK)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
  }
  // Locks are not available here: the marker cannot be made.
  ::close(fd_);
  fd_ = -1;
  alreadyExisted_ = false;
}

Marker::Marker(Marker&& other) noexcept : fd_(other.fd_), alreadyExisted_(other.alreadyExisted_) {
  other.fd_ = -1;
}

Marker::~Marker() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace zivra::platform
