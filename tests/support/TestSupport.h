#pragma once
// Helpers shared by the tests: a fresh temporary folder, whole-file read/write, and a lock held
// by another process (POSIX has no share modes, so "another program has it open" is an flock
// held by a forked child).
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kvelv::test {

// A new, empty folder under $TMPDIR (else /tmp); removed with everything in it on destruction,
// even when the tests left read-only files or folders inside.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing separator.
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};

// Writes `bytes` to `path`, replacing it; throws std::runtime_error on failure.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole file; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);

// Holds an flock on `path` (LOCK_EX when `exclusive`, else LOCK_SH) in a forked child process
// until destroyed; with `record`, a record lock (fcntl) on the whole file instead. The
// constructor returns only once the lock is held; throws on failure (for example when a
// conflicting lock is held). The child keeps none of the parent's descriptors.
class ChildLock {
 public:
  ChildLock(const std::string& path, bool exclusive, bool record = false);
  ~ChildLock();
  ChildLock(const ChildLock&) = delete;
  ChildLock& operator=(const ChildLock&) = delete;

 private:
  pid_t child_ = -1;
  int releaseFd_ = -1;  // write end; closing it tells the child to let go
};

}  // namespace kvelv::test
