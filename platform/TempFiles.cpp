// Temporary names shared by both systems: "~" + random hex + extension, and files created under
// such names with CreateNew, so that a name that exists is never reused.
#include "platform/TempFiles.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/FileSystem.h"

namespace kvelv::platform {

namespace {

constexpr int kMaxAttempts = 1000;

}  // namespace

std::string RandomHex() {
  // The names only need to be hard to collide; CreateNew guarantees that an existing file is not
  // reused. One generator for the process: nothing of it is kept per thread.
  static std::mutex mutex;
  static std::mt19937_64 generator([] {
    std::random_device device;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^ now;
  }());
  std::lock_guard<std::mutex> lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
  return text;
}

std::string RandomTempName(const std::string& folder, const std::string& extension) {
  std::string base = folder;
  if (!base.empty() && base.back() != kSeparator && base.back() != '/') base += kSeparator;
  return base + "~" + RandomHex() + extension;
}

File CreateUniqueFile(const std::string& folder, const std::string& extension, std::string& path,
                      std::error_code& ec) {
  path.clear();
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string candidate = RandomTempName(folder, extension);
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
