// Slows down the reads of chosen files, so that a test can watch a job and stop it while it runs
// without needing huge files. Loaded into a program with LD_PRELOAD:
//   KVELV_THROTTLE_PATH  reads of files whose path starts with this are slowed (unset: none)
//   KVELV_THROTTLE_RATE  bytes per second for each read (default 8000000)
//   KVELV_THROTTLE_LOG   a file that gets one line per slowed read, the CLOCK_MONOTONIC seconds at
//                        which it returned (so a test sees when a job stopped reading)
// Every read of such a file sleeps as long as its bytes take at that rate, after it is done.
#include <dlfcn.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Throttled(int fd) {
  const char* prefix = std::getenv("KVELV_THROTTLE_PATH");
  if (prefix == nullptr || *prefix == '\0') return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t length = ::readlink(link, path, sizeof path - 1);
  if (length <= 0) return false;
  path[length] = '\0';
  return std::strncmp(path, prefix, std::strlen(prefix)) == 0;
}

void Pause(int fd, ssize_t bytes) {
  if (bytes <= 0) return;
  const int saved = errno;
  if (Throttled(fd)) {
    const char* rate = std::getenv("KVELV_THROTTLE_RATE");
    const double perSecond = rate != nullptr && std::atof(rate) > 0 ? std::atof(rate) : 8e6;
    const double seconds = static_cast<double>(bytes) / perSecond;
    timespec wait{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
    if (const char* log = std::getenv("KVELV_THROTTLE_LOG")) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (FILE* file = std::fopen(log, "a")) {
        std::fprintf(file, "%lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
        std::fclose(file);
      }
    }
  }
  errno = saved;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t count) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  const ssize_t got = real(fd, buffer, count);
  Pause(fd, got);
  return got;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  const ssize_t got = real(fd, buffer, count, offset);
  Pause(fd, got);
  return got;
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
  const ssize_t got = real(fd, buffer, count, offset);
  Pause(fd, got);
  return got;
}

}  // extern "C"
