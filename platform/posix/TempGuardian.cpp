// The watcher is a child forked on first use. It holds the read end of a pipe whose write end
// only this process keeps; the pipe reaches end of file when the process ends in any way, and
// the watcher then empties and removes every folder still registered. After fork the child uses
// async-signal-safe calls only (the parent may have other threads), and it has no heap.
#include "platform/TempGuardian.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/TempFiles.h"

namespace kvelv::platform {
namespace {

constexpr int kMaxFolders = 16;
constexpr size_t kMaxPath = 1024;  // a record must fit one atomic pipe write (PIPE_BUF 4096)

// Watcher state: static storage, copied into the child by fork.
char gFolders[kMaxFolders][kMaxPath];

// Removes the files in `folder` and the folder itself, without following links.
void EmptyAndRemove(const char* folder) {
  int dir = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir >= 0) {
    alignas(8) char buffer[4096];
    for (;;) {
      long got = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
      if (got <= 0) break;
      for (long at = 0; at < got;) {
        struct Entry {
          ino64_t ino;
          off64_t off;
          unsigned short reclen;
          unsigned char type;
          char name[1];
        };
        const auto* entry = reinterpret_cast<const Entry*>(buffer + at);
        const char* name = entry->name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) unlinkat(dir, name, 0);
        at += entry->reclen;
      }
    }
    close(dir);
  }
  rmdir(folder);
}

[[noreturn]] void Watch(int readEnd) {
  // Outlive a terminal's interrupt or hang-up that ends the parent: the cleanup must still run.
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  if (chdir("/") != 0) {
    // Paths are absolute; staying in the parent's folder only keeps it busy.
  }
  // Keep nothing of the parent's open: a held lock, pipe or terminal would outlast it.
  for (int fd = 0; fd < 1024; ++fd)
    if (fd != readEnd) close(fd);
  // Records: '+' or '-', the folder path, a NUL byte; each arrives whole (one write <= PIPE_BUF).
  static char record[kMaxPath + 2];
  size_t filled = 0;
  for (;;) {
    char c;
    ssize_t got = read(readEnd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (filled < sizeof record) record[filled++] = c;
    if (c != 0) continue;
    const char* path = record + 1;
    for (int i = 0; i < kMaxFolders; ++i) {
      if (record[0] == '+' && gFolders[i][0] == 0) {
        std::memcpy(gFolders[i], path, std::strlen(path) + 1);
        break;
      }
      if (record[0] == '-' && std::strcmp(gFolders[i], path) == 0) {
        gFolders[i][0] = 0;
        break;
      }
    }
    filled = 0;
  }
  for (int i = 0; i < kMaxFolders; ++i)
    if (gFolders[i][0] != 0) EmptyAndRemove(gFolders[i]);
  _exit(0);
}

std::mutex gMutex;
int gWriteEnd = -1;
int gCount = 0;
pid_t gOwner = 0;  // the process the watcher serves

// Starts the watcher once per process; false when it cannot run.
bool EnsureWatcher() {
  if (gWriteEnd >= 0 && gOwner == getpid()) return true;
  if (gWriteEnd >= 0) {
    // A forked copy of the process: the inherited watcher serves the parent and would only act
    // when the parent ends, so this process gets its own.
    close(gWriteEnd);
    gWriteEnd = -1;
    gCount = 0;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[1]);
    // A grandchild does the watching, so the parent never has a child of ours to reap.
    pid_t watcher = fork();
    if (watcher == 0) Watch(fds[0]);
    _exit(watcher < 0 ? 1 : 0);
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    close(fds[1]);
    return false;
  }
  gWriteEnd = fds[1];
  gOwner = getpid();
  return true;
}

bool Send(char kind, const std::string& folder) {
  std::string record(1, kind);
  record += folder;
  record.push_back('\0');
  ssize_t put;
  do {
    put = write(gWriteEnd, record.data(), record.size());
  } while (put < 0 && errno == EINTR);
  return put == static_cast<ssize_t>(record.size());
}

}  // namespace

std::string CreateGuardedFolder(const std::string& parent, const std::string& suffix) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gCount >= kMaxFolders || !EnsureWatcher()) return {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string folder = UniqueName(parent, suffix);
    if (folder.size() >= kMaxPath) return {};
    // Registered first: a kill between mkdir and the record would otherwise leave the folder.
    if (!Send('+', folder)) return {};
    if (mkdir(folder.c_str(), 0700) == 0) {
      ++gCount;
      return folder;
    }
    const int error = errno;
    Send('-', folder);
    if (error != EEXIST) return {};
  }
  return {};
}

bool RemoveGuardedFolder(const std::string& folder) {
  EmptyAndRemove(folder.c_str());
  struct stat st {};
  const bool gone = lstat(folder.c_str(), &st) != 0 && errno == ENOENT;
  std::lock_guard<std::mutex> lock(gMutex);
  if (gone && gWriteEnd >= 0 && gOwner == getpid() && Send('-', folder)) --gCount;
  return gone;
}

}  // namespace kvelv::platform
