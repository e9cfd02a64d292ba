#pragma once
// The job's temporary archive. It holds plaintext, so it is removed on every way out of the
// job, error paths included.
#include <string>

namespace kvelv {

class TempArchive {
 public:
  TempArchive();  // picks a free name in the temporary folder; creates nothing
  ~TempArchive();
  TempArchive(const TempArchive&) = delete;
  TempArchive& operator=(const TempArchive&) = delete;

  const std::string& Path() const { return path_; }
  void Remove();

 private:
  std::string path_;
};

}  // namespace kvelv
