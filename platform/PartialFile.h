#pragma once
// A new file written under a temporary name ("~<random hex><extension>") in the folder of the
// file it is to become, and renamed over that file only when complete (a container before it
// replaces the target). Until then it never outlives its run: its owner removes it on every way
// out (a failure, an exception, a job cancelled and unwinding); a catchable signal that ends the
// process (SIGINT, SIGTERM, SIGHUP) removes it before the process ends; after SIGKILL or a crash
// the watcher of TempGuardian.h does. On Windows the file is marked for deletion from its
// creation on, so the system removes it when the process ends, however it ends, until Commit().
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/File.h"
#include "platform/Folder.h"

namespace kvelv::platform {

class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile();  // Remove() unless committed
  PartialFile(PartialFile&& other) noexcept;
  PartialFile& operator=(PartialFile&& other) noexcept;
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates the file, new, readable and writable by the owner only and never through a link, in
  // `folder` (a path, with or without the trailing separator; "" for the current folder).
  static PartialFile Create(const std::string& folder, const std::string& extension, std::error_code& ec);

  bool IsOpen() const { return file_.IsOpen(); }
  File& Handle() { return file_; }
  const std::string& Path() const { return path_; }

  // Closes the file and renames it over `target`; from then on it is the caller's file. False,
  // with `ec`, when the close or the rename fails; the file is removed then.
  bool Commit(const std::string& target, std::error_code& ec);
  // Closes and removes the file now (nothing when committed or never created).
  void Remove();

 private:
  Folder folder_;
  std::string name_;
  std::string path_;
  File file_;
  uint64_t ticket_ = 0;  // the guard's registration (POSIX)
};

}  // namespace kvelv::platform
