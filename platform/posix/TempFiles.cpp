// Temporary names: "~" + random hex + extension, created with O_EXCL so a clash is never reused.
#include "platform/TempFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/FileSystem.h"

namespace kvelv::platform {

namespace {

constexpr int kMaxAttempts = 1000;

std::string RandomHex() {
  // One random_device seed per thread; the names only need to be hard to collide, O_EXCL
  // guarantees they are not reused.
  thread_local std::mt19937_64 generator([] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^ static_cast<uint64_t>(getpid());
  }());
  char text[17];
  std::snprintf(text, sizeof text, "%08llX",
                static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
  return text;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == kSeparator) return folder;
  return folder + kSeparator;
}

}  // namespace

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && *env != '\0' && FolderExists(env)) return WithSeparator(env);
  return "/tmp/";
}

std::string UniqueName(const std::string& folder, const std::string& extension) {
  std::string base = WithSeparator(folder);
  std::string path;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    path = base + "~" + RandomHex() + extension;
    if (!PathExists(path)) return path;
  }
  return path;  // practically unreachable; the caller's O_EXCL create still refuses a clash
}

File CreateUniqueFile(const std::string& folder, const std::string& extension, std::string& path,
                      std::error_code& ec) {
  path.clear();
  std::string base = WithSeparator(folder);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string candidate = base + "~" + RandomHex() + extension;
    File file = File::Open(candidate, OpenMode::CreateNew, ec);
    if (file.IsOpen()) {
      path = candidate;
      return file;
    }
    if (ec != std::errc::file_exists) return File();
  }
  return File();
}

}  // namespace kvelv::platform
