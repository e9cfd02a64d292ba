// Private temporary folders on Windows. There is no watcher process here: a file inside is
// opened without sharing while in use and removed on every way out the program controls; a
// process killed outright leaves the folder to the system's temporary-files cleanup.
#include "platform/TempGuardian.h"

#include "platform/TempFiles.h"

namespace kvelv::platform {

std::string CreateGuardedFolder(const Folder& parent, const std::string& prefix, const std::string& suffix) {
  if (!parent.IsOpen()) return {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + RandomHex() + suffix;
    std::error_code ec;
    if (parent.CreateSubfolder(name, true, ec)) return name;
    if (ec != std::errc::file_exists) return {};
  }
  return {};
}

bool RemoveGuardedFolder(const Folder& parent, const std::string& name) {
  parent.RemoveSubfolderWithFiles(name);
  return !parent.Lookup(name).has_value();
}

}  // namespace kvelv::platform
