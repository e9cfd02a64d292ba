#pragma once
// Where an extraction writes its files before they count: a guarded folder inside the target
// folder (the same file system, so a finished file goes into place with one rename). Staged files
// are new files in a folder only the owner may enter; nothing that already sits in the target
// folder is opened for writing. The folder goes, with whatever is still in it, when the object
// does, and with the process if that is killed (platform/TempGuardian.h; on Windows each staged
// file is deleted by the system when the process ends before it was moved into place). A staging
// folder that a killed run left behind (after a power loss, say) is removed by the next run
// into the same folder.
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/File.h"
#include "platform/Folder.h"

namespace kvelv {

class StagingFolder {
 public:
  // Creates the staging folder in `target`, which must stay open while this object lives.
  // Raises EDestDirError when the target folder cannot take it (read-only, full, gone).
  explicit StagingFolder(const platform::Folder& target);
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Creates the staged file for item `item`; `name` receives its name in the staging folder.
  platform::File NewFile(size_t item, std::string& name, std::error_code& ec);
  // Removes a staged file that will not be used.
  void Drop(const std::string& name);
  // Opens a staged file (or a file kept aside here) for reading.
  platform::File Read(const std::string& name, std::error_code& ec) const { return staging_.OpenForReading(name, ec); }
  // Moves the staged file `name` to `finalName` in `folder` while nothing has that name there;
  // false with `ec` (file_exists when something has it) otherwise, nothing moved.
  bool MoveToNewName(const std::string& name, const platform::Folder& folder, const std::string& finalName,
                     std::error_code& ec) const;
  // The same over whatever file or link has the name (where a file system cannot refuse).
  bool MoveOver(const std::string& name, const platform::Folder& folder, const std::string& finalName,
                std::error_code& ec) const;
  // Moves the staged file `name` over the file or link `finalName` in `folder`, which is kept
  // here as `keptName` (see platform::Folder::ReplaceKeeping) until this folder goes.
  bool ReplaceKeeping(const std::string& name, const platform::Folder& folder, const std::string& finalName,
                      std::string& keptName, std::error_code& ec) const;
  // Puts a file kept aside back to `finalName` in `folder`, over what is there now.
  bool PutBack(const std::string& keptName, const platform::Folder& folder, const std::string& finalName) const;
  // Takes `finalName` in `folder` (a file moved there) back in as `name`.
  bool TakeBack(const platform::Folder& folder, const std::string& finalName, const std::string& name) const;
  // Gives a staged file the entry's time (a DOS date and time) and, when `retainAttributes`, its
  // DOS attributes; what the file system cannot take is left as it is.
  static void Stamp(platform::File& file, uint32_t dosDateTime, bool retainAttributes, uint32_t attributes);
  // The staged file's path, for moves that only a path can describe.
  std::string PathOf(const std::string& name) const { return staging_.PathOf(name); }
  // Whether the target folder's file system takes names that differ in letter case only for one
  // name (always on Windows; on Linux a case-folding folder, FAT or a Windows share).
  bool NamesIgnoreCase() const { return ignoreCase_; }

 private:
  const platform::Folder& target_;
  std::string name_;           // of the staging folder in the target folder
  platform::Folder staging_;
  bool ignoreCase_ = false;
};

}  // namespace kvelv
