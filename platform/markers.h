#pragma once
#include <string>
#include <string_view>

namespace zivra::platform {

// A named marker shared by all processes of the user's session: it exists while some process
// holds it. Here a marker is a lock file in the user's runtime folder ($XDG_RUNTIME_DIR, or
// /tmp/zivra-<uid> when that is unset); every holder keeps a shared lock on it, so it vanishes
// with its last holder, however that holder ends. Programs started by a holder do not inherit it.
class Marker {
 public:
  // Creates or opens the marker `name` and holds it from now on.
  explicit Marker(std::string_view name);
  Marker(Marker&& other) noexcept;
  Marker& operator=(Marker&&) = delete;
  Marker(const Marker&) = delete;
  Marker& operator=(const Marker&) = delete;
  ~Marker();

  // True when another holder had the marker when it was opened. A marker that could not be
  // made counts as not existing.
  bool AlreadyExisted() const { return alreadyExisted_; }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool alreadyExisted_ = false;
};

// The folder that holds the markers, with a trailing '/'; made (mode 0700) when missing. Empty
// when no safe folder can be had (the fallback exists but belongs to someone else, say).
std::string MarkerFolder();

}  // namespace zivra::platform
