#pragma once
// Points $TMPDIR at a fresh folder for the life of the object, so a test can check that a job
// left nothing behind. Make the test's own TempDirs before this object, or they land inside it.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

namespace kvelv::test {

class ScopedTempDirEnv {
 public:
  ScopedTempDirEnv() {
    if (const char* old = std::getenv("TMPDIR")) {
      hadOld_ = true;
      old_ = old;
    }
    setenv("TMPDIR", dir_.Path().c_str(), 1);
  }
  ~ScopedTempDirEnv() {
    if (hadOld_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  ScopedTempDirEnv(const ScopedTempDirEnv&) = delete;
  ScopedTempDirEnv& operator=(const ScopedTempDirEnv&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  bool IsEmpty() const { return std::filesystem::is_empty(dir_.Path()); }

 private:
  TempDir dir_;  // created under the caller's $TMPDIR, before it is replaced
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace kvelv::test
