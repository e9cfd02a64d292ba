// POSIX file-system queries in the program's DOS terms: attribute bits from the mode and the name.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

namespace kvelv::platform {

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

uint32_t AttributesOf(const std::string& name, const struct stat& st) {
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= kAttrFolder;
  } else if (S_ISREG(st.st_mode)) {
    attributes |= kAttrArchive;
  } else {
    attributes |= kAttrSystem;
  }
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (IsHiddenName(name)) attributes |= kAttrHidden;
  return attributes;
}

FileInfo InfoOf(const std::string& name, const struct stat& st) {
  FileInfo info;
  info.name = name;
  info.attributes = AttributesOf(name, st);
  info.size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  info.lastWriteTime = static_cast<int64_t>(st.st_mtime);
  return info;
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool IsSymlink(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return InfoOf(FileNamePart(path), st);
}

std::optional<std::vector<FileInfo>> ListFolder(const std::string& path) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
  if (!dir) return std::nullopt;
  std::vector<FileInfo> entries;
  for (;;) {
    errno = 0;
    dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return std::nullopt;
      break;
    }
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    // Follow symlinks like GetFileInfo; a dangling link counts as a system entry.
    if (fstatat(dirfd(dir.get()), name.c_str(), &st, 0) != 0 &&
        fstatat(dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // vanished between readdir and stat
    }
    entries.push_back(InfoOf(name, st));
  }
  return entries;
}

bool SetDosAttributes(const std::string& path, uint32_t attributes) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= ~kWriteBits;
  } else {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return true;
  return chmod(path.c_str(), mode) == 0;
}

bool SetLastWriteTime(const std::string& path, int64_t unixSeconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time stays as it is
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  // Folders are not files: unlink would refuse anyway, but say so without trying.
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && rename(from.c_str(), to.c_str()) == 0;
}

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return !ec && FolderExists(path);
}

bool RemoveEmptyFolder(const std::string& path) { return !path.empty() && rmdir(path.c_str()) == 0; }

std::string CurrentFolder() {
  std::error_code ec;
  auto current = std::filesystem::current_path(ec);
  return ec ? std::string() : current.string();
}

std::string UserConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return std::string(home) + "/.config";
  return std::string();
}

std::string FileNamePart(const std::string& path) {
  auto pos = path.rfind(kSeparator);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string OpenedFileName(const std::string& path) { return FileNamePart(path); }

std::string FolderPart(const std::string& path) {
  auto pos = path.rfind(kSeparator);
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

}  // namespace kvelv::platform
