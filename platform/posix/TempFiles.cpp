// The temporary folder ($TMPDIR or /tmp) and names free in a folder.
#include "platform/TempFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/FileSystem.h"

namespace kvelv::platform {

namespace {

constexpr int kMaxAttempts = 1000;

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

}  // namespace

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  if (env == nullptr || *env == '\0' || !FolderExists(env)) return "/tmp/";
  std::string folder = env;
  // A relative $TMPDIR is taken from the folder the program started in, once and for all.
  if (folder.front() != kSeparator) folder = CurrentFolder() + kSeparator + folder;
  if (folder.back() != kSeparator) folder += kSeparator;
  return folder;
}

std::string UniqueName(const std::string& folder, const std::string& extension) {
  std::string path;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    path = RandomTempName(folder, extension);
    if (!PathExists(path)) return path;
  }
  return path;  // practically unreachable; the caller's O_EXCL create still refuses a clash
}

}  // namespace kvelv::platform
