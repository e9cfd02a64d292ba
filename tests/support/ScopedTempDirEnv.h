#pragma once
// Points $TMPDIR at a fresh folder for the life of the object, so a test can check that a job
// left nothing behind. Make the test's own TempDirs before this object, or they land inside it.
#include <filesystem>
#include <string>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {

class ScopedTempDirEnv {
 public:
  const std::string& Path() const { return dir_.Path(); }
  bool IsEmpty() const { return std::filesystem::is_empty(dir_.Path()); }

 private:
  TempDir dir_;  // created under the caller's $TMPDIR, before it is replaced
  ScopedEnv env_{"TMPDIR", dir_.Path()};
};

}  // namespace kvelv::test
