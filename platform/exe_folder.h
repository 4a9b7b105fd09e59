#pragma once
#include <string>

namespace zivra::platform {

// Folder of the running executable, with a trailing separator. Every file a program reads,
// writes, starts or opens is named relative to it, whatever the current directory is.
// Empty when the executable's path cannot be read.
std::string ExecutableFolder();

}  // namespace zivra::platform
