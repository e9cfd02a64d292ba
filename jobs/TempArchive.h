#pragma once
// The job's temporary archive. It holds plaintext, so it is removed on every way out of the
// job, error paths included, and it lives in a private guarded folder (platform/TempGuardian.h)
// that is removed even when the process is killed. Every temporary file made next to the
// archive (the writer's staging file, the decrypted file before its rename) lands there too.
#include <string>

namespace kvelv {

class TempArchive {
 public:
  TempArchive();  // creates the private folder and picks a free name in it; creates no file
  ~TempArchive();
  TempArchive(const TempArchive&) = delete;
  TempArchive& operator=(const TempArchive&) = delete;

  const std::string& Path() const { return path_; }
  // False when no guarded folder could be made: the archive then sits in the temporary folder
  // itself and only the job's own ways out remove it.
  bool Guarded() const { return !folder_.empty(); }
  void Remove();

 private:
  std::string folder_;  // "" when no guarded folder could be made (the temporary folder is used)
  std::string path_;
};

}  // namespace kvelv
