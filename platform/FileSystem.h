#pragma once
// File-system queries and changes the program needs, in the terms of its original design
// (DOS attribute bits, local times). Paths are UTF-8 text with the native separator.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/LocalTime.h"

namespace kvelv::platform {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// DOS attribute bits as written into and read from archives.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrFolder = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// True only for an existing regular file (symlinks followed); false for folders and on any error.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// True when the path itself is a symbolic link (not followed).
bool IsSymlink(const std::string& path);

struct FileInfo {
  std::string name;        // last path component
  uint32_t attributes = 0; // DOS bits: read-only, hidden (dot name), system (not file/folder), folder, archive
  int64_t size = 0;
  int64_t lastWriteTime = 0;  // seconds since the Unix epoch (UTC)
  bool IsFolder() const { return (attributes & kAttrFolder) != 0; }
};

// Information about one path (symlinks followed); nullopt when it does not exist.
std::optional<FileInfo> GetFileInfo(const std::string& path);
// Entries of a folder (not "." and ".."), in the order the OS returns them; nullopt on error.
std::optional<std::vector<FileInfo>> ListFolder(const std::string& path);

// Applies DOS attributes: 0x01 clears all write bits, otherwise restores owner write. Other bits ignored.
bool SetDosAttributes(const std::string& path, uint32_t attributes);
bool SetLastWriteTime(const std::string& path, int64_t unixSeconds);

bool DeleteFile(const std::string& path);
// Renames, replacing an existing target atomically where the OS allows it.
bool RenameFile(const std::string& from, const std::string& to);
// Creates the folder and all missing parents.
bool CreateFolders(const std::string& path);
// Removes the folder when it is empty (never a file, never through a link).
bool RemoveEmptyFolder(const std::string& path);
std::string CurrentFolder();
// The per-user folder for settings, without a trailing separator: $XDG_CONFIG_HOME, else
// $HOME/.config on POSIX; the roaming application-data folder (%APPDATA%) on Windows. "" when
// there is none.
std::string UserConfigFolder();

// Last path component after the final separator ("/" here; "\" too on Windows).
std::string FileNamePart(const std::string& path);
// The name of the file that `path` opens: FileNamePart(path), on Windows without the trailing
// dots and spaces that the system drops there ("b.txt. " opens "b.txt").
std::string OpenedFileName(const std::string& path);
// Everything before the final separator, without it ("" when there is none).
std::string FolderPart(const std::string& path);

}  // namespace kvelv::platform
