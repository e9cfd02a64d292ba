#pragma once
// The system's own message box and desktop shell, where the system has them (Windows). Elsewhere
// each call answers "not here" (nullopt or false) and the caller uses its toolkit's equivalent.
#include <cstdint>
#include <optional>
#include <string>

namespace kvelv::platform {

// A native window handle (an HWND on Windows); 0 for none.
using NativeWindow = std::uintptr_t;

enum class MessageButtons { Ok, YesNo };

// The system's message box without owner window and without icon: true for OK or Yes, false for
// No or closed otherwise; nullopt when the system has none.
std::optional<bool> SystemMessageBox(const std::string& text, const std::string& caption,
                                     MessageButtons buttons);

// Asks the shell to open the folder with the verb "open" in a normal window owned by `owner`.
// The outcome is not reported; false when there is no such shell here.
bool ShellOpenFolder(const std::string& path, NativeWindow owner);

// Moves the folder to the Recycle Bin through the shell, with the shell's own confirmation when
// `confirm`: true when it is gone afterwards, false when declined or refused; nullopt when there
// is no such shell here.
std::optional<bool> ShellRecycleFolder(const std::string& path, NativeWindow owner, bool confirm);

}  // namespace kvelv::platform
