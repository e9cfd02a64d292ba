#pragma once
// An open folder. Files and subfolders are created, looked at, renamed and removed relative to
// it, so the work stays in the folder that was opened even when its path is changed meanwhile
// (renamed, or swapped for a symbolic link by someone who can write its parent). Names are single
// path components; nothing below ever follows a symbolic link.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/File.h"

namespace kvelv::platform {

// What a name in a folder is, the name itself not followed when it is a link.
struct FolderEntryInfo {
  enum class Kind { File, Folder, Link, Other };
  Kind kind = Kind::Other;
  bool readOnly = false;  // a file the owner may not write (the DOS read-only attribute)
  bool IsFile() const { return kind == Kind::File; }
};

// What the path names, the last component not followed when it is a link; nullopt when nothing.
std::optional<FolderEntryInfo> LookupPath(const std::string& path);

class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens the existing folder `path` (links on the way are followed: the caller named it).
  static Folder Open(const std::string& path, std::error_code& ec);
  // Opens `path`, creating it and its missing parents first; `created` tells whether the folder
  // itself was made here.
  static Folder OpenOrCreate(const std::string& path, bool& created, std::error_code& ec);

  bool IsOpen() const;
  // The path the folder was opened by, for messages and for APIs that need one.
  const std::string& Path() const { return path_; }
  // Path() + separator + `name`.
  std::string PathOf(const std::string& name) const;

  // Creates the new file `name` for writing; it must not exist (not even as a link). The mode is
  // the usual one for new files (0666 less the umask), or owner-only (0600) when `ownerOnly`.
  File CreateNewFile(const std::string& name, bool ownerOnly, std::error_code& ec) const;
  // Creates the new file `name` like CreateNewFile (the usual mode) for data that must not outlive
  // the process unless kept: on Windows the system deletes it when the process ends, in any way,
  // before Keep(name); on POSIX the guarded folder it is made in is removed by the watcher
  // (platform/TempGuardian.h). Closing this folder, or RemoveFile(name), drops it.
  File CreateTransientFile(const std::string& name, std::error_code& ec) const;
  // Lets the file `name` outlive the process (just before it is moved into place); false when
  // that cannot be made sure.
  bool Keep(const std::string& name) const;
  // Opens the file `name` for reading (a transient one too), never through a link.
  File OpenForReading(const std::string& name, std::error_code& ec) const;
  // Creates the subfolder `name` (owner-only when `ownerOnly`); false with `ec` when it cannot.
  // A name starting with "." is a hidden folder on Windows too.
  bool CreateSubfolder(const std::string& name, bool ownerOnly, std::error_code& ec) const;
  // Opens the subfolder `name`, never through a link.
  Folder OpenSubfolder(const std::string& name, std::error_code& ec) const;
  // What `name` is; nullopt when nothing has that name (or it cannot be looked at).
  std::optional<FolderEntryInfo> Lookup(const std::string& name) const;
  // Renames `name` to `toName` in `to`, replacing a file (or link) there in one step.
  bool Rename(const std::string& name, const Folder& to, const std::string& toName, std::error_code& ec) const;
  // The same only while nothing has the name `toName` in `to`; false otherwise (`ec`
  // file_exists), and false too where the file system cannot tell in the same step (then
  // nothing was renamed either, `ec` another error).
  bool RenameToNewName(const std::string& name, const Folder& to, const std::string& toName,
                       std::error_code& ec) const;
  // Moves the file `name` to `toName` in `to`, replacing the file or link there, which stays in
  // this folder as `keptName` (a new name; where the two are exchanged in one step the old file
  // takes `name` instead, and `keptName` is set to it). Where the file system allows, `toName`
  // names the one or the other at every moment (exchanged, or the old file given a second name
  // first); elsewhere it names nothing for the moment between two renames. False with `ec`
  // (nothing changed) when it cannot; no_such_file_or_directory when nothing has the name.
  bool ReplaceKeeping(const std::string& name, const Folder& to, const std::string& toName, std::string& keptName,
                      std::error_code& ec) const;
  // Whether another program holds the file `name` open so that it cannot be replaced now:
  // Windows: any open handle with access to its data; POSIX: a lock on it (advisory, as the
  // program's locks are).
  bool InUse(const std::string& name) const;
  // The longest name this folder's file system holds (bytes on POSIX, UTF-16 units on Windows).
  size_t NameMax() const;
  // The names in this folder that start with `prefix` (files, folders, links alike).
  std::vector<std::string> NamesStartingWith(const std::string& prefix) const;
  // Marks this folder as worked in by this process, until it is closed: see
  // RemoveSubfolderIfAbandoned. False when another process is removing it as abandoned.
  bool MarkInUse() const;
  // Removes the subfolder `name` with the files in it (as RemoveSubfolderWithFiles) when no
  // process works in it (none holds it marked or, on Windows, open); true when it went.
  bool RemoveSubfolderIfAbandoned(const std::string& name) const;
  // Removes the file or link `name`; the empty subfolder `name`.
  bool RemoveFile(const std::string& name) const;
  bool RemoveSubfolder(const std::string& name) const;
  // Removes every file and link in the subfolder `name`, then the subfolder itself.
  bool RemoveSubfolderWithFiles(const std::string& name) const;

  // The OS handle (a descriptor on POSIX), for the platform layer's own use.
  intptr_t Handle() const { return handle_; }

 private:
  Folder(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void Close();

  intptr_t handle_ = -1;
  std::string path_;
};

}  // namespace kvelv::platform
