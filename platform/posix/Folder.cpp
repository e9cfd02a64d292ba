// POSIX folders: a descriptor opened with O_DIRECTORY and the *at calls relative to it.
#include "platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

File Folder::CreateTransientFile(const std::string& name, std::error_code& ec) const {
  return CreateNewFile(name, false, ec);
}

bool Folder::Keep(const std::string& /*name: the watcher removes only the guarded folder*/) const { return true; }

File Folder::OpenForReading(const std::string& name, std::error_code& ec) const {
  ec.clear();
  int fd;
  do {
    fd = ::openat(static_cast<int>(handle_), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    ec = Errno(errno);
    return File();
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    ec = Errno(EISDIR);
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

bool Folder::RenameToNewName(const std::string& name, const Folder& to, const std::string& toName,
                             std::error_code& ec) const {
  ec.clear();
  if (::renameat2(static_cast<int>(handle_), name.c_str(), static_cast<int>(to.handle_), toName.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return true;
  }
  ec = Errno(errno);
  return false;
}

bool Folder::ReplaceKeeping(const std::string& name, const Folder& to, const std::string& toName,
                            std::string& keptName, std::error_code& ec) const {
  ec.clear();
  const int here = static_cast<int>(handle_);
  const int there = static_cast<int>(to.handle_);
  // One step: the two exchanged; the old file now has `name` here.
  if (::renameat2(here, name.c_str(), there, toName.c_str(), RENAME_EXCHANGE) == 0) {
    keptName = name;
    return true;
  }
  if (errno == ENOENT) {
    ec = Errno(ENOENT);
    return false;
  }
  // A second name for the old file first, then the new one renamed over the name.
  if (::linkat(there, toName.c_str(), here, keptName.c_str(), 0) == 0) {
    if (::renameat(here, name.c_str(), there, toName.c_str()) == 0) return true;
    ec = Errno(errno);
    ::unlinkat(here, keptName.c_str(), 0);
    return false;
  }
  if (errno == ENOENT) {
    ec = Errno(ENOENT);
    return false;
  }
  // No hard links here either (FAT, some network file systems): two renames.
  if (::renameat2(there, toName.c_str(), here, keptName.c_str(), RENAME_NOREPLACE) != 0) {
    ec = Errno(errno);
    return false;
  }
  if (::renameat2(here, name.c_str(), there, toName.c_str(), RENAME_NOREPLACE) == 0) return true;
  ec = Errno(errno);
  ::renameat2(here, keptName.c_str(), there, toName.c_str(), RENAME_NOREPLACE);
  return false;
}

bool Folder::InUse(const std::string& name) const {
  int fd;
  do {
    fd = ::openat(static_cast<int>(handle_), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  // Programs lock the documents they have open with either kind of lock: flock, or a record
  // lock (fcntl, lockf), which office programs and databases use. Either held by another
  // process counts.
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  struct flock record {};
  record.l_type = F_WRLCK;
  record.l_whence = SEEK_SET;
  if (!held && ::fcntl(fd, F_OFD_GETLK, &record) == 0) held = record.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

size_t Folder::NameMax() const {
  const long max = ::fpathconf(static_cast<int>(handle_), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : 255;
}

std::vector<std::string> Folder::NamesStartingWith(const std::string& prefix) const {
  std::vector<std::string> names;
  const int fd = OpenDirectory(static_cast<int>(handle_), ".", 0);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    if (fd >= 0) ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

bool Folder::MarkInUse() const {
  // A file system without locks (some network ones) cannot mark it; only a holder says no.
  return ::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

bool Folder::RemoveSubfolderIfAbandoned(const std::string& name) const {
  const int fd = OpenDirectory(static_cast<int>(handle_), name.c_str(), O_NOFOLLOW);
  if (fd < 0) return false;
  const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool removed = abandoned && RemoveSubfolderWithFiles(name);
  ::close(fd);
  return removed;
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
