// The path forms of the guarded folders, over the folder forms each system implements.
#include "platform/TempGuardian.h"

#include <system_error>

#include "platform/FileSystem.h"

namespace kvelv::platform {

std::string CreateGuardedFolder(const std::string& parent, const std::string& suffix) {
  std::error_code ec;
  Folder folder = Folder::Open(parent, ec);
  if (!folder.IsOpen()) return {};
  const std::string name = CreateGuardedFolder(folder, "~", suffix);
  return name.empty() ? std::string() : folder.PathOf(name);
}

bool RemoveGuardedFolder(const std::string& folder) {
  std::error_code ec;
  Folder parent = Folder::Open(FolderPart(folder), ec);
  return parent.IsOpen() && RemoveGuardedFolder(parent, FileNamePart(folder));
}

}  // namespace kvelv::platform
