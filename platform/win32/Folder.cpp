// Win32 folders: the folder is held open without delete sharing, so it cannot be renamed,
// removed or replaced while it is open; files inside are reached by the joined path, in its
// extended-length form (WidePath), so a deep folder or a long name is no obstacle.
//
// Transient files: the file is created with delete access and given the delete disposition at
// once; the system deletes it when its last handle closes, so when the process ends in any way.
// The creating handle (the keeper) stays here; the caller writes through a duplicate. Keep()
// clears the disposition and closes the keeper, just before the file is moved into place.
#include "platform/Folder.h"

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::ErrorFromWin32;
using win32::SetDeleteDisposition;
using win32::WidePath;

HANDLE OpenDirectoryHandle(const std::string& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return CreateFileW(WidePath(path).c_str(), FILE_LIST_DIRECTORY, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The keepers of the transient files, by folder handle and name. Worker threads create files too.
std::mutex gTransientMutex;
std::map<std::pair<intptr_t, std::string>, HANDLE> gTransient;

// The keeper of `name` in `folder`, taken out of the list; nullptr when it has none.
HANDLE TakeKeeper(intptr_t folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(gTransientMutex);
  const auto found = gTransient.find({folder, name});
  if (found == gTransient.end()) return nullptr;
  HANDLE keeper = found->second;
  gTransient.erase(found);
  return keeper;
}

HANDLE DuplicateOf(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

}  // namespace

void Folder::Close() {
  if (handle_ < 0) return;
  {
    // Transient files not kept go with the folder's handle.
    std::lock_guard<std::mutex> lock(gTransientMutex);
    auto it = gTransient.lower_bound({handle_, std::string()});
    while (it != gTransient.end() && it->first.first == handle_) {
      CloseHandle(it->second);
      it = gTransient.erase(it);
    }
  }
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
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
  const std::wstring wide = WidePath(path);
  const DWORD attributes = win32::IsDevicePath(wide) ? FILE_ATTRIBUTE_NORMAL : GetFileAttributesW(wide.c_str());
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
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) {
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
  HANDLE handle = CreateFileW(WidePath(PathOf(name)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return File();
  }
  return File(reinterpret_cast<intptr_t>(handle));
}

File Folder::CreateTransientFile(const std::string& name, std::error_code& ec) const {
  ec.clear();
  HANDLE keeper = CreateFileW(WidePath(PathOf(name)).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (keeper == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return File();
  }
  HANDLE writer = nullptr;
  if (!SetDeleteDisposition(keeper, true) || (writer = DuplicateOf(keeper)) == nullptr) {
    ec = ErrorFromWin32(GetLastError());
    SetDeleteDisposition(keeper, true);
    CloseHandle(keeper);
    return File();
  }
  std::lock_guard<std::mutex> lock(gTransientMutex);
  gTransient[{handle_, name}] = keeper;
  return File(reinterpret_cast<intptr_t>(writer));
}

bool Folder::Keep(const std::string& name) const {
  HANDLE keeper = TakeKeeper(handle_, name);
  if (keeper == nullptr) return true;
  const bool kept = SetDeleteDisposition(keeper, false);
  CloseHandle(keeper);
  return kept;
}

File Folder::OpenForReading(const std::string& name, std::error_code& ec) const {
  ec.clear();
  {
    std::lock_guard<std::mutex> lock(gTransientMutex);
    const auto found = gTransient.find({handle_, name});
    if (found != gTransient.end()) {
      // A file being deleted cannot be opened again: read through the keeper's file object.
      HANDLE copy = DuplicateOf(found->second);
      if (copy == nullptr) ec = ErrorFromWin32(GetLastError());
      return copy == nullptr ? File() : File(reinterpret_cast<intptr_t>(copy));
    }
  }
  HANDLE handle = CreateFileW(WidePath(PathOf(name)).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return File();
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    ec = std::error_code(ENXIO, std::generic_category());
    return File();
  }
  return File(reinterpret_cast<intptr_t>(handle));
}

bool Folder::CreateSubfolder(const std::string& name, bool /*ownerOnly*/, std::error_code& ec) const {
  ec.clear();
  const std::wstring path = WidePath(PathOf(name));
  if (CreateDirectoryW(path.c_str(), nullptr)) {
    // A dot name keeps a folder out of ordinary listings on POSIX; the hidden attribute does here.
    if (!name.empty() && name[0] == '.') {
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
    }
    return true;
  }
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
  const std::wstring wide = WidePath(path);
  if (win32::IsDevicePath(wide)) return std::nullopt;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
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
  if (MoveFileExW(WidePath(PathOf(name)).c_str(), WidePath(to.PathOf(toName)).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ec = ErrorFromWin32(GetLastError());
  return false;
}

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName,
                             std::error_code& ec) const {
  ec.clear();
  if (MoveFileExW(WidePath(PathOf(name)).c_str(), WidePath(to.PathOf(toName)).c_str(), MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ec = ErrorFromWin32(GetLastError());
  return false;
}

bool Folder::ReplaceKeeping(const std::string& name, const Folder& to, const std::string& toName,
                            std::string& keptName, std::error_code& ec) const {
  ec.clear();
  const std::wstring from = WidePath(PathOf(name));
  const std::wstring target = WidePath(to.PathOf(toName));
  const std::wstring kept = WidePath(PathOf(keptName));
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ec = ErrorFromWin32(GetLastError());
    return false;
  }
  // A second name for the old file first (NTFS), then the new one renamed over the name.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && CreateHardLinkW(kept.c_str(), target.c_str(), nullptr)) {
    if (MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    ec = ErrorFromWin32(GetLastError());
    DeleteFileW(kept.c_str());
    return false;
  }
  // No hard links (FAT, exFAT, many network shares), or a link at the name: two renames.
  if (!MoveFileExW(target.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH)) {
    ec = ErrorFromWin32(GetLastError());
    return false;
  }
  if (MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  ec = ErrorFromWin32(GetLastError());
  MoveFileExW(kept.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
  return false;
}

bool Folder::InUse(const std::string& name) const {
  // No sharing at all: refused while any other handle with access to the data is open, which
  // is what stops a file from being replaced.
  HANDLE handle = CreateFileW(WidePath(PathOf(name)).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
}

size_t Folder::NameMax() const { return 255; }

std::vector<std::string> Folder::NamesStartingWith(const std::string& prefix) const {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(WidePath(PathOf(prefix + "*")).c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = win32::Narrow(found.cFileName);
    if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(std::move(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool Folder::MarkInUse() const { return IsOpen(); }  // the open handle is the mark: see below

bool Folder::RemoveSubfolderIfAbandoned(const std::string& name) const {
  // A folder some process has open (as a working one is, see Open) refuses an open that shares
  // nothing.
  HANDLE probe = OpenDirectoryHandle(PathOf(name), 0);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return RemoveSubfolderWithFiles(name);
}

bool Folder::RemoveFile(const std::string& name) const {
  // A transient file goes when its keeper closes.
  if (HANDLE keeper = TakeKeeper(handle_, name)) return CloseHandle(keeper) != 0;
  return DeleteFileW(WidePath(PathOf(name)).c_str()) != 0;
}

bool Folder::RemoveSubfolder(const std::string& name) const {
  return RemoveDirectoryW(WidePath(PathOf(name)).c_str()) != 0;
}

bool Folder::RemoveSubfolderWithFiles(const std::string& name) const {
  const std::wstring folder = WidePath(PathOf(name));
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
