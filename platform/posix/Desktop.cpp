// No system message box or shell here: the interactive build uses Qt's (QMessageBox,
// QDesktopServices, QFile::moveToTrash).
#include "platform/Desktop.h"

namespace kvelv::platform {

std::optional<bool> SystemMessageBox(const std::string&, const std::string&, MessageButtons) {
  return std::nullopt;
}

bool ShellOpenFolder(const std::string&, NativeWindow) { return false; }

std::optional<bool> ShellRecycleFolder(const std::string&, NativeWindow, bool) { return std::nullopt; }

}  // namespace kvelv::platform
