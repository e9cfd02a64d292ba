// Private temporary folders on Windows. There is no watcher process: the system itself removes
// the files. Every file created in a guarded folder gets a second, delete-on-close handle
// (GuardedFiles.h) that is held until the folder is removed; when the process ends, however it
// ends, the system closes that handle and deletes the file. Only the emptied folder can remain
// after a kill.
#include "platform/TempGuardian.h"

#include <mutex>
#include <vector>

#include "platform/TempFiles.h"
#include "platform/win32/GuardedFiles.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

struct GuardedFolder {
  std::wstring path;  // full path, no trailing separator
  std::vector<HANDLE> keepers;
};

// Worker threads open files too (decoding ahead), so the list has a lock.
std::mutex gMutex;
std::vector<GuardedFolder> gFolders;

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  full.resize(size);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

std::wstring ParentOf(const std::wstring& fullPath) {
  const auto separator = fullPath.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : fullPath.substr(0, separator);
}

// Names compare as the file system does: without regard to case.
GuardedFolder* Find(const std::wstring& folder) {
  for (GuardedFolder& guarded : gFolders) {
    if (CompareStringOrdinal(guarded.path.data(), static_cast<int>(guarded.path.size()), folder.data(),
                             static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL)
      return &guarded;
  }
  return nullptr;
}

// FileDispositionInfoEx with FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
// (Windows 10), which the headers offer only to programs that require Windows 10.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDeleteNow = 0x1 | 0x2;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  {
    // The files go when the process's handles close; their names can go now where the file
    // system deletes the POSIX way, and then the emptied folders too.
    std::lock_guard<std::mutex> lock(gMutex);
    for (const GuardedFolder& folder : gFolders) {
      for (HANDLE keeper : folder.keepers) {
        DWORD now = kDeleteNow;
        SetFileInformationByHandle(keeper, kDispositionInfoEx, &now, sizeof now);
      }
      RemoveDirectoryW(folder.path.c_str());
    }
  }
  // Not ExitProcess: the job's thread is still running, and no static object may go under it.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

}  // namespace

namespace win32 {

void EndProcessOnConsoleInterrupt() {
  static std::once_flag once;
  std::call_once(once, [] { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); });
}

bool InGuardedFolder(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(gMutex);
  return !gFolders.empty() && Find(ParentOf(FullPath(path))) != nullptr;
}

bool KeepUntilFolderRemoved(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  std::lock_guard<std::mutex> lock(gMutex);
  GuardedFolder* folder = Find(ParentOf(full));
  if (folder == nullptr) return true;
  // Delete access only, so that it stands in the way of no reader or writer that shares
  // deletion.
  HANDLE keeper = CreateFileW(full.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (keeper == INVALID_HANDLE_VALUE) return false;
  folder->keepers.push_back(keeper);
  return true;
}

}  // namespace win32

void StartTempGuardian() {}
void StartTempGuardian(int, char**) {}

std::string CreateGuardedFolder(const Folder& parent, const std::string& prefix, const std::string& suffix) {
  if (!parent.IsOpen()) return {};
  win32::EndProcessOnConsoleInterrupt();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + RandomHex() + suffix;
    std::error_code ec;
    if (parent.CreateSubfolder(name, true, ec)) {
      std::lock_guard<std::mutex> lock(gMutex);
      gFolders.push_back({FullPath(win32::WidePath(parent.PathOf(name))), {}});
      return name;
    }
    if (ec != std::errc::file_exists) return {};
  }
  return {};
}

bool RemoveGuardedFolder(const Folder& parent, const std::string& name) {
  {
    // Closing the keepers deletes the files, unless another handle still holds one open.
    std::lock_guard<std::mutex> lock(gMutex);
    if (GuardedFolder* folder = Find(FullPath(win32::WidePath(parent.PathOf(name))))) {
      for (HANDLE keeper : folder->keepers) CloseHandle(keeper);
      folder->keepers.clear();
    }
  }
  parent.RemoveSubfolderWithFiles(name);
  const bool gone = !parent.Lookup(name).has_value();
  if (gone) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (GuardedFolder* folder = Find(FullPath(win32::WidePath(parent.PathOf(name)))))
      gFolders.erase(gFolders.begin() + (folder - gFolders.data()));
  }
  return gone;
}

}  // namespace kvelv::platform
