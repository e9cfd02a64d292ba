#include "platform/SecretLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kvelv::platform {

namespace {

// Reads from `fd` until a line feed arrives or the input ends. A pipe is read a little at a
// time, so that what follows the line stays there for whoever reads next.
SecretBytes ReadLine(int fd, std::error_code& ec) {
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const size_t chunk = regular ? 4096 : 1;
  SecretBytes line;
  line.Reserve(regular ? chunk : 256);
  for (;;) {
    if (line.Size() > kMaxSecretLine) {
      ec = std::make_error_code(std::errc::value_too_large);
      return {};
    }
    const size_t before = line.Size();
    line.Resize(before + chunk);
    ssize_t got;
    do {
      got = read(fd, line.Data() + before, chunk);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      ec = std::error_code(errno, std::generic_category());
      return {};
    }
    line.Resize(before + static_cast<size_t>(got));
    if (got == 0 || std::memchr(line.Data() + before, '\n', static_cast<size_t>(got)) != nullptr) break;
  }
  return FirstLineOf(std::move(line), ec);
}

}  // namespace

SecretBytes ReadSecretLine(const std::string& path, std::error_code& ec) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    ec = std::error_code(errno, std::generic_category());
    return {};
  }
  SecretBytes line = ReadLine(fd, ec);
  close(fd);
  return line;
}

SecretBytes ReadSecretLineFromStandardInput(std::error_code& ec) { return ReadLine(STDIN_FILENO, ec); }

}  // namespace kvelv::platform
