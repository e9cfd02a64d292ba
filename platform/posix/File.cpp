// POSIX files: the share modes of the design become flock advisory locks (see OpenMode).
#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace kvelv::platform {

namespace {

std::error_code Errno(int value) { return std::error_code(value, std::generic_category()); }

bool NeedsWrite(OpenMode mode) {
  return mode != OpenMode::ReadDenyNone && mode != OpenMode::ReadDenyWrite;
}

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadDenyNone:
    case OpenMode::ReadDenyWrite:
      return O_RDONLY;
    case OpenMode::ReadWriteDenyAll:
      return O_RDWR;
    case OpenMode::CreateNew:
      return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    case OpenMode::CreateAlways:  // opened in two steps, see OpenDescriptor
      return O_RDWR | O_CREAT | O_NOFOLLOW;
    case OpenMode::WriteExisting:
      return O_WRONLY;
  }
  return O_RDONLY;
}

// Lock taken for the mode's lifetime; 0 for none. ReadDenyNone only checks (see Open).
int LockFor(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadDenyNone:
    case OpenMode::WriteExisting:
      return 0;
    case OpenMode::ReadDenyWrite:
      return LOCK_SH | LOCK_NB;
    case OpenMode::ReadWriteDenyAll:
    case OpenMode::CreateNew:
    case OpenMode::CreateAlways:
      return LOCK_EX | LOCK_NB;
  }
  return 0;
}

// Read-only in the DOS sense: the owner lacks write permission (same rule as the attribute 0x01).
bool HasWriteBit(const struct stat& st) { return (st.st_mode & S_IWUSR) != 0; }

int OpenRetrying(const std::string& path, int flags, mode_t createMode = 0600) {
  int fd;
  do {
    // O_NONBLOCK so that a FIFO at the path cannot block the open; cleared again in Prepare.
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, createMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens the descriptor; `created` tells whether this call made the file.
int OpenDescriptor(const std::string& path, OpenMode mode, bool& created) {
  created = false;
  if (mode != OpenMode::CreateAlways) {
    int fd = OpenRetrying(path, OpenFlags(mode));
    created = fd >= 0 && mode == OpenMode::CreateNew;
    return fd;
  }
  // Create-or-open in two steps, so a failure later on can remove only a file made here.
  // User files get the usual permissions (umask applies); only CreateNew makes private files.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = OpenRetrying(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = OpenRetrying(path, O_RDWR | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT) return fd;  // ENOENT: removed meanwhile, try again
  }
  errno = EAGAIN;
  return -1;
}

// Checks the opened file and takes the mode's lock; returns the error that refuses it.
std::error_code Prepare(int fd, OpenMode mode, bool checkWriteBits, bool created) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return Errno(errno);
  if (S_ISDIR(st.st_mode)) return Errno(EISDIR);
  // A FIFO or socket would block or fail on the first read; such entries are not files here.
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return Errno(ENXIO);
  // Re-check on the opened file: the name may have been swapped between the check and the open.
  if (checkWriteBits && S_ISREG(st.st_mode) && !HasWriteBit(st)) return Errno(EACCES);
  // Reads and writes of regular files never block, flag or not; anything else gets it cleared.
  if (!S_ISREG(st.st_mode)) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return Errno(errno);
  }
  // "Deny none" takes no lock but still yields to a holder that shares nothing.
  int lock = mode == OpenMode::ReadDenyNone ? (LOCK_SH | LOCK_NB) : LockFor(mode);
  if (lock != 0) {
    int rc;
    do {
      rc = flock(fd, lock);
    } while (rc != 0 && errno == EINTR);
    // Another process holds a conflicting lock: that is a sharing violation.
    if (rc != 0) return Errno(errno == EWOULDBLOCK ? EBUSY : errno);
    if (mode == OpenMode::ReadDenyNone) flock(fd, LOCK_UN);
  }
  // Truncate only once the exclusive lock is held, never under another holder's feet. A file
  // this call created is empty already.
  if (mode == OpenMode::CreateAlways && !created && ftruncate(fd, 0) != 0) return Errno(errno);
  return {};
}

}  // namespace

File File::Open(const std::string& path, OpenMode mode, std::error_code& ec) {
  ec.clear();
  if (path.empty()) {
    ec = Errno(ENOENT);
    return File();
  }
  // Root ignores permission bits; the program must not, so a file without write bits is
  // refused for writing before the OS is asked. CreateNew never opens an existing file.
  const bool checkWriteBits = NeedsWrite(mode) && mode != OpenMode::CreateNew;
  if (checkWriteBits) {
    struct stat st {};
    int flags = mode == OpenMode::CreateAlways ? AT_SYMLINK_NOFOLLOW : 0;
    if (fstatat(AT_FDCWD, path.c_str(), &st, flags) == 0 && S_ISREG(st.st_mode) && !HasWriteBit(st)) {
      ec = Errno(EACCES);
      return File();
    }
  }
  bool created = false;
  int fd = OpenDescriptor(path, mode, created);
  if (fd < 0) {
    // O_NOFOLLOW on a symlink reports ELOOP; callers only need "cannot open".
    ec = Errno(errno);
    return File();
  }
  File file(fd);
  ec = Prepare(fd, mode, checkWriteBits, created);
  if (ec) {
    file.Close();
    // A file this call created and then could not use is not left behind.
    if (created) unlink(path.c_str());
    return File();
  }
  return file;
}

int64_t File::Read(void* buffer, int64_t count) {
  if (handle_ < 0) {
    lastError_ = Errno(EBADF);
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(static_cast<int>(handle_), out + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = Errno(errno);
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t File::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (handle_ < 0 || position < 0) return -1;
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(static_cast<int>(handle_), out + done, static_cast<size_t>(count - done),
                        static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

namespace {

// Writes all `count` bytes, at `position` or, when it is negative, at the file's position; the
// bytes written. A write that makes no progress is a full disk.
int64_t WriteAll(int fd, const char* in, int64_t count, int64_t position, std::error_code& error) {
  int64_t done = 0;
  while (done < count) {
    const size_t size = static_cast<size_t>(count - done);
    ssize_t n = position < 0 ? ::write(fd, in + done, size)
                             : ::pwrite(fd, in + done, size, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = Errno(errno);
      break;
    }
    if (n == 0) {
      error = Errno(ENOSPC);
      break;
    }
    done += n;
  }
  return done;
}

}  // namespace

int64_t File::Write(const void* buffer, int64_t count) {
  if (handle_ < 0) {
    lastError_ = Errno(EBADF);
    return 0;
  }
  return WriteAll(static_cast<int>(handle_), static_cast<const char*>(buffer), count, -1, lastError_);
}

int64_t File::WriteAt(int64_t position, const void* buffer, int64_t count) {
  if (handle_ < 0 || position < 0) {
    lastError_ = Errno(handle_ < 0 ? EBADF : EINVAL);
    return 0;
  }
  return WriteAll(static_cast<int>(handle_), static_cast<const char*>(buffer), count, position, lastError_);
}

bool File::Seek(int64_t position) {
  if (handle_ < 0 || position < 0) {
    lastError_ = Errno(handle_ < 0 ? EBADF : EINVAL);
    return false;
  }
  if (lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) < 0) {
    lastError_ = Errno(errno);
    return false;
  }
  return true;
}

int64_t File::Position() const {
  if (handle_ < 0) return -1;
  off_t pos = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
  return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t File::Size() const {
  if (handle_ < 0) return -1;
  struct stat st {};
  if (fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool File::Truncate(int64_t size) {
  if (handle_ < 0 || size < 0) {
    lastError_ = Errno(handle_ < 0 ? EBADF : EINVAL);
    return false;
  }
  int rc;
  do {
    rc = ftruncate(static_cast<int>(handle_), static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    lastError_ = Errno(errno);
    return false;
  }
  return true;
}

bool File::Sync() {
  if (handle_ < 0) {
    lastError_ = Errno(EBADF);
    return false;
  }
  if (fsync(static_cast<int>(handle_)) != 0) {
    lastError_ = Errno(errno);
    return false;
  }
  return true;
}

void File::StartWriteBack(int64_t position, int64_t length) {
#if defined(__linux__)
  if (handle_ >= 0 && position >= 0 && length > 0)
    (void)sync_file_range(static_cast<int>(handle_), position, length, SYNC_FILE_RANGE_WRITE);
#else
  (void)position;
  (void)length;
#endif
}

bool File::SetLastWriteTime(int64_t unixSeconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time stays as it is
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  times[1].tv_nsec = 0;
  if (handle_ >= 0 && futimens(static_cast<int>(handle_), times) == 0) return true;
  lastError_ = Errno(handle_ < 0 ? EBADF : errno);
  return false;
}

bool File::SetDosAttributes(uint32_t attributes) {
  struct stat st {};
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if ((attributes & 0x01) != 0) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return mode == (st.st_mode & 07777) || fchmod(static_cast<int>(handle_), mode) == 0;
}

namespace {

// The process's umask, read without changing it (Linux 4.7 and later), else by setting it and
// back under a lock.
mode_t CurrentUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(value);
  }
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const mode_t mask = umask(077);
  umask(mask);
  return mask;
}

}  // namespace

bool File::TakePermissions(const std::string& replaced, NewFileMode whenNew) {
  if (handle_ < 0) return false;
  const int fd = static_cast<int>(handle_);
  struct stat st {};
  if (!replaced.empty() && stat(replaced.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // The owner first: changing it may clear set-id bits, which the mode then restores.
    if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not ours to give away: the file stays ours, with the mode below.
    }
    return fchmod(fd, st.st_mode & 07777) == 0;
  }
  const mode_t mode = whenNew == NewFileMode::Private ? 0600 : (0666 & ~CurrentUmask());
  return fchmod(fd, mode) == 0;
}

bool File::Close() {
  if (handle_ < 0) return true;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  // close() must not be retried on EINTR on Linux: the descriptor is gone either way.
  if (::close(fd) != 0 && errno != EINTR) {
    lastError_ = Errno(errno);
    return false;
  }
  return true;
}

}  // namespace kvelv::platform
