// Private temporary folders on Windows. There is no watcher process here: a file inside is
// opened without sharing while in use and removed on every way out the program controls; a
// process killed outright leaves the folder to the system's temporary-files cleanup.
#include "platform/TempGuardian.h"

#include "platform/TempFiles.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

using win32::Widen;

std::string CreateGuardedFolder(const std::string& parent, const std::string& suffix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string folder = parent + "~" + RandomHex() + suffix;
    if (CreateDirectoryW(Widen(folder).c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

bool RemoveGuardedFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::wstring wide = Widen(folder);
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, 0);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      std::wstring path = wide + L"\\" + found.cFileName;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryW(wide.c_str()) != 0 || GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace kvelv::platform
