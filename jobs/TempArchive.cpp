#include "jobs/TempArchive.h"

#include "jobs/FileProbes.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "platform/TempGuardian.h"

namespace kvelv {

TempArchive::TempArchive() : folder_(platform::CreateGuardedFolder(platform::TempFolder(), ".tmp")) {
  path_ = folder_.empty() ? GetTempArchiveName(".zip")
                          : platform::UniqueName(folder_ + platform::kSeparator, ".zip");
}

TempArchive::~TempArchive() { Remove(); }

void TempArchive::Remove() {
  if (!path_.empty()) platform::DeleteFile(path_);
  if (!folder_.empty() && platform::RemoveGuardedFolder(folder_)) folder_.clear();
}

}  // namespace kvelv
