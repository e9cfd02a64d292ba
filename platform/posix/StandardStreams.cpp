// POSIX: descriptors 0, 1 and 2.
#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kvelv::platform {

namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// The lowest free number is taken by open(), so filling 0, 1, 2 in order puts each where it
// belongs. Without a null device, the root folder opened for reading stands in: a write to it
// fails and a read finds no data, and it is nothing of the program's.
int OpenPlaceholder() {
  int fd;
  do {
    fd = open("/dev/null", O_RDWR);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fd = open("/", O_RDONLY | O_DIRECTORY);
  return fd;
}

}  // namespace

bool OpenStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (IsOpen(fd)) continue;
    const int placeholder = OpenPlaceholder();
    if (placeholder < 0) return false;
    if (placeholder != fd) {
      // Cannot happen while `fd` is the lowest free number; kept sound all the same.
      const bool moved = dup2(placeholder, fd) == fd;
      close(placeholder);
      if (!moved) return false;
    }
  }
  return true;
}

}  // namespace kvelv::platform
