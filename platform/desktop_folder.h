#pragma once
#include <string>

namespace zivra::platform {

// The user's desktop folder without a trailing '/': what `xdg-user-dir DESKTOP` says, else
// $HOME/Desktop. Empty when neither can be worked out.
std::string DesktopFolder();

}  // namespace zivra::platform
