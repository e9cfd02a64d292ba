// Win32 folders: the folder is held open without delete sharing, so it cannot be renamed,
// removed or replaced while it is open; files inside are reached by the joined path.
#include "platform/Folder.h"

#include <cerrno>
#include <memory>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::ErrorFromWin32;
using win32::Widen;

HANDLE OpenDirectoryHandle(const std::string& path) {
  return CreateFileW(Widen(path.empty() ? "." : path).c_str(), FILE_LIST_DIRECTORY,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

}  // namespace

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

void Folder::Close() {
  if (handle_ >= 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool Folder::IsOpen() const { return handle_ >= 0; }

std::string Folder::PathOf(const std::string& name) const {
  if (path_.empty()) return name;
  if (path_.back() == '\\' || path_.back() == '/') return path_ + name;
  return path_ + '\\' + name;
}

Folder Folder::Open(const std::string& path, std::error_code& ec) {
  ec.clear();
  const DWORD attributes = GetFileAttributesW(Widen(path.empty() ? "." : path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ec = std::error_code(ENOTDIR, std::generic_category());
    return Folder();
  }
  HANDLE handle = OpenDirectoryHandle(path);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return Folder();
  }
  return Folder(reinterpret_cast<intptr_t>(handle), path);
}

Folder Folder::OpenOrCreate(const std::string& path, bool& created, std::error_code& ec) {
  created = false;
  Folder folder = Open(path, ec);
  if (folder.IsOpen() || ec != std::errc::no_such_file_or_directory || path.empty()) return folder;
  const std::string parent = FolderPart(path);
  if (!parent.empty() && !FolderExists(parent) && !CreateFolders(parent)) {
    ec = std::error_code(ENOENT, std::generic_category());
    return Folder();
  }
  if (CreateDirectoryW(Widen(path).c_str(), nullptr)) {
    created = true;
  } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
    ec = ErrorFromWin32(GetLastError());
    return Folder();
  }
  return Open(path, ec);
}

File Folder::CreateNewFile(const std::string& name, bool /*ownerOnly: the folder's ACL applies*/,
                        std::error_code& ec) const {
  ec.clear();
  HANDLE handle = CreateFileW(Widen(PathOf(name)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return File();
  }
  return File(reinterpret_cast<intptr_t>(handle));
}

bool Folder::CreateSubfolder(const std::string& name, bool /*ownerOnly*/, std::error_code& ec) const {
  ec.clear();
  if (CreateDirectoryW(Widen(PathOf(name)).c_str(), nullptr)) return true;
  ec = ErrorFromWin32(GetLastError());
  return false;
}

Folder Folder::OpenSubfolder(const std::string& name, std::error_code& ec) const {
  const auto info = Lookup(name);
  if (!info || info->kind != FolderEntryInfo::Kind::Folder) {
    ec = std::error_code(info ? ENOTDIR : ENOENT, std::generic_category());
    return Folder();
  }
  return Open(PathOf(name), ec);
}

std::optional<FolderEntryInfo> Folder::Lookup(const std::string& name) const { return LookupPath(PathOf(name)); }

std::optional<FolderEntryInfo> LookupPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  FolderEntryInfo info;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    info.kind = FolderEntryInfo::Kind::Link;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    info.kind = FolderEntryInfo::Kind::Folder;
  } else {
    info.kind = FolderEntryInfo::Kind::File;
    info.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  }
  return info;
}

bool Folder::Rename(const std::string& name, const Folder& to, const std::string& toName,
                    std::error_code& ec) const {
  ec.clear();
  if (MoveFileExW(Widen(PathOf(name)).c_str(), Widen(to.PathOf(toName)).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ec = ErrorFromWin32(GetLastError());
  return false;
}

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName) const {
  return MoveFileExW(Widen(PathOf(name)).c_str(), Widen(to.PathOf(toName)).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName,
                             std::error_code& ec) const {
  ec.clear();
  if (RenameToNewName(name, to, toName)) return true;
  ec = ErrorFromWin32(GetLastError());
  return false;
}

bool Folder::RemoveFile(const std::string& name) const { return DeleteFileW(Widen(PathOf(name)).c_str()) != 0; }

bool Folder::RemoveSubfolder(const std::string& name) const {
  return RemoveDirectoryW(Widen(PathOf(name)).c_str()) != 0;
}

bool Folder::RemoveSubfolderWithFiles(const std::string& name) const {
  const std::wstring folder = Widen(PathOf(name));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring entry = found.cFileName;
      if (entry == L"." || entry == L"..") continue;
      const std::wstring path = folder + L"\\" + entry;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      }
      DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveSubfolder(name);
}

}  // namespace kvelv::platform
