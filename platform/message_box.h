#pragma once
#include <string_view>

namespace zivra::platform {

// Shows `text` (UTF-8) in a modal message box with the caption "zIvra" and an OK button, and
// returns when the user has closed it. Without a display the text goes to standard error and
// the call returns at once, as if OK had been pressed.
void ShowMessageBox(std::string_view text);

}  // namespace zivra::platform
