// POSIX folders: a descriptor opened with O_DIRECTORY and the *at calls relative to it.
#include "platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/FileSystem.h"

namespace kvelv::platform {

namespace {

std::error_code Errno(int value) { return std::error_code(value, std::generic_category()); }

int OpenDirectory(int at, const char* path, int extraFlags) {
  int fd;
  do {
    fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
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
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool Folder::IsOpen() const { return handle_ >= 0; }

std::string Folder::PathOf(const std::string& name) const {
  if (path_.empty() || path_.back() == '/') return path_ + name;
  return path_ + '/' + name;
}

Folder Folder::Open(const std::string& path, std::error_code& ec) {
  ec.clear();
  const int fd = OpenDirectory(AT_FDCWD, path.empty() ? "." : path.c_str(), 0);
  if (fd < 0) {
    ec = Errno(errno);
    return Folder();
  }
  return Folder(fd, path);
}

Folder Folder::OpenOrCreate(const std::string& path, bool& created, std::error_code& ec) {
  created = false;
  Folder folder = Open(path, ec);
  if (folder.IsOpen() || ec != std::errc::no_such_file_or_directory || path.empty()) return folder;
  // The parents first, then the folder itself, so that `created` tells about this one alone.
  const std::string parent = FolderPart(path);
  if (!parent.empty() && !FolderExists(parent) && !CreateFolders(parent)) {
    ec = Errno(ENOENT);
    return Folder();
  }
  if (::mkdir(path.c_str(), 0777) == 0) {
    created = true;
  } else if (errno != EEXIST) {
    ec = Errno(errno);
    return Folder();
  }
  return Open(path, ec);
}

File Folder::CreateNewFile(const std::string& name, bool ownerOnly, std::error_code& ec) const {
  ec.clear();
  int fd;
  do {
    fd = ::openat(static_cast<int>(handle_), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  ownerOnly ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    ec = Errno(errno);
    return File();
  }
  return File(fd);
}

bool Folder::CreateSubfolder(const std::string& name, bool ownerOnly, std::error_code& ec) const {
  ec.clear();
  if (::mkdirat(static_cast<int>(handle_), name.c_str(), ownerOnly ? 0700 : 0777) == 0) return true;
  ec = Errno(errno);
  return false;
}

Folder Folder::OpenSubfolder(const std::string& name, std::error_code& ec) const {
  ec.clear();
  const int fd = OpenDirectory(static_cast<int>(handle_), name.c_str(), O_NOFOLLOW);
  if (fd < 0) {
    ec = Errno(errno);
    return Folder();
  }
  return Folder(fd, PathOf(name));
}

namespace {

std::optional<FolderEntryInfo> LookupAt(int folder, const char* name) {
  struct stat st {};
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  FolderEntryInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FolderEntryInfo::Kind::File;
    info.readOnly = (st.st_mode & S_IWUSR) == 0;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FolderEntryInfo::Kind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = FolderEntryInfo::Kind::Link;
  }
  return info;
}

}  // namespace

std::optional<FolderEntryInfo> LookupPath(const std::string& path) { return LookupAt(AT_FDCWD, path.c_str()); }

std::optional<FolderEntryInfo> Folder::Lookup(const std::string& name) const {
  return LookupAt(static_cast<int>(handle_), name.c_str());
}

bool Folder::Rename(const std::string& name, const Folder& to, const std::string& toName,
                    std::error_code& ec) const {
  ec.clear();
  if (::renameat(static_cast<int>(handle_), name.c_str(), static_cast<int>(to.handle_), toName.c_str()) == 0) {
    return true;
  }
  ec = Errno(errno);
  return false;
}

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName) const {
  return ::renameat2(static_cast<int>(handle_), name.c_str(), static_cast<int>(to.handle_), toName.c_str(),
                     RENAME_NOREPLACE) == 0;
}

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName,
                             std::error_code& ec) const {
  ec.clear();
  if (RenameToNewName(name, to, toName)) return true;
  ec = Errno(errno);
  return false;
}

bool Folder::RemoveFile(const std::string& name) const {
  return ::unlinkat(static_cast<int>(handle_), name.c_str(), 0) == 0;
}

bool Folder::RemoveSubfolder(const std::string& name) const {
  return ::unlinkat(static_cast<int>(handle_), name.c_str(), AT_REMOVEDIR) == 0;
}

bool Folder::RemoveSubfolderWithFiles(const std::string& name) const {
  const int fd = OpenDirectory(static_cast<int>(handle_), name.c_str(), O_NOFOLLOW);
  if (fd >= 0) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      ::close(fd);
    } else {
      while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
      }
      ::closedir(dir);
    }
  }
  return RemoveSubfolder(name);
}

}  // namespace kvelv::platform
