#pragma once
// Where an extraction writes its files before they count: a guarded folder inside the target
// folder (the same file system, so a finished file goes into place with one rename). Staged files
// are new files in a folder only the owner may enter; nothing that already sits in the target
// folder is opened for writing. The folder goes, with whatever is still in it, when the object
// does, and with the process if that is killed (platform/TempGuardian.h).
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
  // Moves the staged file `name` to `finalName` in `folder`, replacing what is there (a file, or
  // the link itself, never what a link points to).
  bool MoveIntoPlace(const std::string& name, const platform::Folder& folder, const std::string& finalName,
                     std::error_code& ec);
  // The same when nothing has the name `finalName` in `folder` yet; false otherwise (nothing moved).
  bool MoveToNewName(const std::string& name, const platform::Folder& folder, const std::string& finalName) const;
  // Gives a staged file the entry's time (a DOS date and time) and, when `retainAttributes`, its
  // DOS attributes; what the file system cannot take is left as it is.
  static void Stamp(platform::File& file, uint32_t dosDateTime, bool retainAttributes, uint32_t attributes);
  // The staged file's path, for moves that only a path can describe.
  std::string PathOf(const std::string& name) const { return staging_.PathOf(name); }

 private:
  const platform::Folder& target_;
  std::string name_;           // of the staging folder in the target folder
  platform::Folder staging_;
};

}  // namespace kvelv
