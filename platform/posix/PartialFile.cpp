// POSIX: the name is guarded (the watcher, a signal's cleanup) before the file is created in the
// open folder, and released once the file is renamed into place or removed.
#include "platform/PartialFile.h"

#include <cerrno>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "platform/posix/GuardedFiles.h"

namespace kvelv::platform {

PartialFile PartialFile::Create(const std::string& folder, const std::string& extension, std::error_code& ec) {
  PartialFile partial;
  partial.folder_ = Folder::Open(folder.empty() ? std::string(".") : folder, ec);
  if (!partial.folder_.IsOpen()) return partial;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Appended rather than "~" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on that form.
    std::string name = RandomHex().insert(0, 1, '~');
    name += extension;
    // Guarded first: a signal or a kill between the two would otherwise leave the file.
    const uint64_t ticket = posix::GuardFileName(partial.folder_, name);
    partial.file_ = partial.folder_.CreateNewFile(name, true, ec);
    if (partial.file_.IsOpen()) {
      partial.name_ = name;
      partial.path_ = partial.folder_.PathOf(name);
      partial.ticket_ = ticket;
      return partial;
    }
    posix::ReleaseGuardedFile(ticket);
    if (ec != std::errc::file_exists) break;
  }
  return partial;
}

bool PartialFile::Commit(const std::string& target, std::error_code& ec) {
  ec.clear();
  if (name_.empty()) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return false;
  }
  if (!file_.Close()) {
    ec = file_.LastError();
  } else if (!RenameFile(path_, target)) {
    ec = std::error_code(errno, std::generic_category());
  }
  if (ec) {
    Remove();
    return false;
  }
  name_.clear();
  posix::ReleaseGuardedFile(std::exchange(ticket_, 0));
  return true;
}

void PartialFile::Remove() {
  if (file_.IsOpen()) file_.Close();
  if (!name_.empty()) folder_.RemoveFile(name_);
  name_.clear();
  if (ticket_ != 0) posix::ReleaseGuardedFile(std::exchange(ticket_, 0));
}

}  // namespace kvelv::platform
