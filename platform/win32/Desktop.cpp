// The Windows message box and shell: MessageBoxW, ShellExecuteW with "open", and
// SHFileOperationW with undo allowed, which moves to the Recycle Bin.
#include "platform/Desktop.h"

#include "platform/win32/WinApi.h"

#include <shellapi.h>

namespace kvelv::platform {

namespace {

using win32::Widen;

HWND ToWindow(NativeWindow window) { return reinterpret_cast<HWND>(window); }

}  // namespace

std::optional<bool> SystemMessageBox(const std::string& text, const std::string& caption,
                                     MessageButtons buttons) {
  const UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
  const int answer = MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), type | MB_TASKMODAL);
  return answer == IDOK || answer == IDYES;
}

bool ShellOpenFolder(const std::string& path, NativeWindow owner) {
  ShellExecuteW(ToWindow(owner), L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return true;
}

std::optional<bool> ShellRecycleFolder(const std::string& path, NativeWindow owner, bool confirm) {
  // The list of names ends with an empty one.
  std::wstring from = Widen(path);
  while (from.size() > 3 && (from.back() == L'\\' || from.back() == L'/')) from.pop_back();
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.hwnd = ToWindow(owner);
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  // Undo allowed: to the Recycle Bin. The shell warns when it would delete outright instead.
  operation.fFlags = FOF_ALLOWUNDO | (confirm ? FOF_WANTNUKEWARNING : FOF_NOCONFIRMATION | FOF_SILENT);
  if (SHFileOperationW(&operation) != 0 || operation.fAnyOperationsAborted) return false;
  return GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace kvelv::platform
