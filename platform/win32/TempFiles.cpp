// Temporary names on Windows: GetTempPathW for the folder, GetTempFileNameW for a unique name
// (its reservation file is removed at once), CREATE_NEW for files that must be new.
#include "platform/TempFiles.h"

#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::Narrow;
using win32::Widen;

constexpr int kMaxAttempts = 1000;

bool PathExists(const std::string& path) {
  return GetFileAttributesW(win32::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES ||
         GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder;
  return folder + kSeparator;
}

// "<folder>~XXXX.tmp" from GetTempFileNameW with its file removed again, the extension replaced;
// "" when the system cannot make one.
std::string ReservedName(const std::string& folder, const std::string& extension) {
  std::wstring wideFolder = Widen(folder.empty() ? std::string(".") : folder);
  wchar_t name[MAX_PATH + 1] = {};
  if (GetTempFileNameW(wideFolder.c_str(), L"~", 0, name) == 0) return {};
  DeleteFileW(name);  // the reservation is not wanted: nothing stays in the folder
  std::string path = Narrow(name);
  auto dot = path.rfind('.');
  if (dot != std::string::npos && dot > path.find_last_of("\\/") + 1) path.resize(dot);
  if (folder.empty()) path = FileNamePart(path);
  return path + extension;
}

}  // namespace

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 2] = {};
  DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) return std::string(".") + kSeparator;
  return WithSeparator(Narrow(std::wstring_view(buffer, length)));
}

std::string UniqueName(const std::string& folder, const std::string& extension) {
  std::string base = WithSeparator(folder);
  std::string path;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    path = ReservedName(base, extension);
    if (path.empty()) path = RandomTempName(base, extension);  // folder not writable: name only
    if (!PathExists(path)) return path;
  }
  return path;  // the caller's exclusive create still refuses a clash
}

}  // namespace kvelv::platform
