// Win32 file-system queries: the DOS attribute bits are the file's own attributes here.
#include "platform/FileSystem.h"

#include <memory>
#include <system_error>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::Narrow;
using win32::WidePath;

constexpr uint32_t kDosBits = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrFolder | kAttrArchive;
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

int64_t UnixFromFileTime(const FILETIME& time) {
  ULARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  return (static_cast<int64_t>(ticks.QuadPart) - kEpochDifference) / kTicksPerSecond;
}

FileInfo InfoOf(std::string name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
  FileInfo info;
  info.name = std::move(name);
  info.attributes = attributes & kDosBits;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    info.size = static_cast<int64_t>((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
  }
  info.lastWriteTime = UnixFromFileTime(written);
  return info;
}

DWORD AttributesOf(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  const std::wstring wide = WidePath(path);
  // "CON", "aux.txt" and the like name devices, never a file or folder.
  if (win32::IsDevicePath(wide)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(wide.c_str());
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

bool FileExists(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymlink(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const std::wstring wide = WidePath(path);
  if (path.empty() || win32::IsDevicePath(wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return InfoOf(FileNamePart(path), data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                data.ftLastWriteTime);
}

std::optional<std::vector<FileInfo>> ListFolder(const std::string& path) {
  std::string pattern = path.empty() ? std::string(".\\*")
                                     : path + (IsSeparator(path.back()) ? "*" : "\\*");
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty drive root has no entries at all; anything else is an error.
    return GetLastError() == ERROR_FILE_NOT_FOUND && FolderExists(path) ? std::optional(std::vector<FileInfo>{})
                                                                        : std::nullopt;
  }
  std::unique_ptr<void, BOOL (*)(HANDLE)> closer(search, FindClose);
  std::vector<FileInfo> entries;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back(InfoOf(Narrow(name), found.dwFileAttributes, found.nFileSizeHigh, found.nFileSizeLow,
                             found.ftLastWriteTime));
  } while (FindNextFileW(search, &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) return std::nullopt;
  return entries;
}

bool SetDosAttributes(const std::string& path, uint32_t attributes) {
  DWORD current = AttributesOf(path);
  if (current == INVALID_FILE_ATTRIBUTES) return false;
  DWORD wanted = (attributes & kAttrReadOnly) != 0 ? (current | FILE_ATTRIBUTE_READONLY)
                                                   : (current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (wanted == current) return true;
  return SetFileAttributesW(WidePath(path).c_str(), wanted) != 0;
}

bool SetLastWriteTime(const std::string& path, int64_t unixSeconds) {
  HANDLE handle = CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILETIME written = win32::FileTimeFromUnix(unixSeconds);
  bool ok = SetFileTime(handle, nullptr, nullptr, &written) != 0;
  return CloseHandle(handle) != 0 && ok;
}

bool DeleteFile(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  return DeleteFileW(WidePath(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  // Each missing folder from the outermost, by its extended-length path: no length limit.
  const std::wstring full = WidePath(path);
  size_t root = full.rfind(L"\\\\?\\UNC\\", 0) == 0 ? full.find(L'\\', full.find(L'\\', 8) + 1)
              : full.rfind(L"\\\\?\\", 0) == 0 ? 6 : 0;
  if (root == std::wstring::npos) return false;
  for (size_t at = full.find(L'\\', root + 1); ; at = full.find(L'\\', at + 1)) {
    const std::wstring folder = full.substr(0, at);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      const DWORD attributes = GetFileAttributesW(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    }
    if (at == std::wstring::npos) break;
  }
  return FolderExists(path);
}

bool RemoveEmptyFolder(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  return RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

std::string CurrentFolder() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  if (length == 0) return {};
  std::wstring folder(length, L'\0');
  length = GetCurrentDirectoryW(length, folder.data());
  folder.resize(length);
  return Narrow(folder);
}

std::string UserConfigFolder() {
  DWORD length = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (length == 0) return {};
  std::wstring folder(length, L'\0');
  length = GetEnvironmentVariableW(L"APPDATA", folder.data(), length);
  folder.resize(length);
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return Narrow(folder);
}

std::string FileNamePart(const std::string& path) {
  auto pos = LastSeparator(path);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string OpenedFileName(const std::string& path) {
  std::string name = FileNamePart(path);
  const size_t end = name.find_last_not_of(". ");
  if (end != std::string::npos) name.resize(end + 1);
  return name;
}

std::string FolderPart(const std::string& path) {
  auto pos = LastSeparator(path);
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

}  // namespace kvelv::platform
