#include "jobs/TempArchive.h"

#include "jobs/FileProbes.h"
#include "platform/FileSystem.h"

namespace kvelv {

TempArchive::TempArchive() : path_(GetTempArchiveName(".zip")) {}

TempArchive::~TempArchive() { Remove(); }

void TempArchive::Remove() {
  if (!path_.empty()) platform::DeleteFile(path_);
}

}  // namespace kvelv
