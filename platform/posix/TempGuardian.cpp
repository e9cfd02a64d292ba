// The watcher is a child forked on first use. It holds one end of a socket pair whose other end
// only this process keeps; the socket reaches end of file when the process ends in any way, and
// the watcher then empties and removes every folder still registered, and removes every partial
// file. Each registration carries a descriptor of the parent folder (SCM_RIGHTS) and the name, so
// the watcher needs no path. After fork the child uses async-signal-safe calls only (the parent
// may have other threads), and it has no heap. Every name is registered for a signal's cleanup
// as well (SignalCleanup.h).
#include "platform/TempGuardian.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/TempFiles.h"
#include "platform/posix/GuardedFiles.h"
#include "platform/posix/SignalCleanup.h"

namespace kvelv::platform {
namespace {

constexpr int kMaxFolders = 64;  // folders and files
constexpr size_t kMaxName = 256;  // one path component (NAME_MAX 255) and its NUL

// One message: '+' for a folder or 'f' for a file (with the parent's descriptor attached), or
// '-', an id, and the name.
struct Record {
  char kind;
  uint64_t id;
  char name[kMaxName];
};

// Watcher state: static storage, copied into the child by fork.
struct Guarded {
  int parent = -1;
  bool file = false;
  uint64_t id = 0;
  char name[kMaxName] = {};
};
Guarded gGuarded[kMaxFolders];

// Receives one record and the descriptor that came with it (-1 when none); false at the end.
bool Receive(int socket, Record& record, int& descriptor) {
  descriptor = -1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  iovec io{&record, sizeof record};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got;
  do {
    got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) std::memcpy(&descriptor, CMSG_DATA(c), sizeof(int));
  }
  record.name[kMaxName - 1] = 0;
  return static_cast<size_t>(got) == sizeof record;
}

// The process's arguments as main() got them: a forked watcher wipes them first thing.
int gArgc = 0;
char** gArgv = nullptr;

// Async-signal-safe: runs in the child right after fork.
void WipeInheritedArguments() {
  for (int i = 1; i < gArgc && gArgv != nullptr; ++i) {
    if (gArgv[i] != nullptr) explicit_bzero(gArgv[i], strlen(gArgv[i]));
  }
}

[[noreturn]] void Watch(int socket) {
  // Outlive a terminal's interrupt or hang-up that ends the parent: the cleanup must still run.
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  if (chdir("/") != 0) {
    // Nothing here uses the current folder; staying in the parent's only keeps it busy.
  }
  // Keep nothing of the parent's open: a held lock, pipe or terminal would outlast it.
  for (int fd = 0; fd < 1024; ++fd)
    if (fd != socket) close(fd);
  Record record;
  int descriptor = -1;
  while (Receive(socket, record, descriptor)) {
    for (int i = 0; i < kMaxFolders; ++i) {
      Guarded& slot = gGuarded[i];
      if ((record.kind == '+' || record.kind == 'f') && slot.parent < 0 && descriptor >= 0) {
        slot.parent = descriptor;
        slot.file = record.kind == 'f';
        descriptor = -1;
        slot.id = record.id;
        std::memcpy(slot.name, record.name, kMaxName);
        break;
      }
      if (record.kind == '-' && slot.parent >= 0 && slot.id == record.id) {
        close(slot.parent);
        slot.parent = -1;
        break;
      }
    }
    if (descriptor >= 0) close(descriptor);
  }
  for (const Guarded& slot : gGuarded) {
    if (slot.parent < 0) continue;
    if (slot.file) {
      unlinkat(slot.parent, slot.name, 0);
    } else {
      posix::EmptyAndRemove(slot.parent, slot.name);
    }
  }
  _exit(0);
}

// Which folder or file a registration stands for: the parent's identity and the name.
struct Registration {
  dev_t device;
  ino_t inode;
  std::string name;
  uint64_t id;
  int signalSlot = -1;
};
Registration gRegistrations[kMaxFolders];

std::mutex gMutex;
int gSocket = -1;
int gCount = 0;
uint64_t gNextId = 1;
pid_t gOwner = 0;  // the process the watcher serves

pid_t gStarter = 0;  // the child that forks the watcher, until it is reaped

// Waits for the child that forks the watcher; false when it could not.
bool ReapStarter() {
  if (gStarter <= 0) return gSocket >= 0;
  int status = 0;
  while (waitpid(gStarter, &status, 0) < 0 && errno == EINTR) {
  }
  gStarter = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    close(gSocket);
    gSocket = -1;
    return false;
  }
  return true;
}

// Forks the watcher once per process (not waiting for it: see ReapStarter); false when it
// cannot be started.
bool StartWatcher() {
  if (gSocket >= 0 && gOwner == getpid()) return true;
  if (gSocket >= 0) {
    // A forked copy of the process: the inherited watcher serves the parent and would only act
    // when the parent ends, so this process gets its own.
    close(gSocket);
    gSocket = -1;
    gStarter = 0;  // the parent's child
    gCount = 0;
    for (Registration& r : gRegistrations) r = Registration{};
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(ends[0]);
    close(ends[1]);
    return false;
  }
  if (pid == 0) {
    WipeInheritedArguments();
    close(ends[1]);
    // A grandchild does the watching, so the parent never has a child of ours to reap.
    pid_t watcher = fork();
    if (watcher == 0) Watch(ends[0]);
    _exit(watcher < 0 ? 1 : 0);
  }
  close(ends[0]);
  gSocket = ends[1];
  gOwner = getpid();
  gStarter = pid;
  return true;
}

// Starts the watcher once per process and waits until it runs; false when it cannot run.
bool EnsureWatcher() { return StartWatcher() && ReapStarter(); }

bool Send(char kind, uint64_t id, const std::string& name, int descriptor) {
  Record record{};
  record.kind = kind;
  record.id = id;
  std::memcpy(record.name, name.data(), name.size());
  iovec io{&record, sizeof record};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (descriptor >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &descriptor, sizeof(int));
  }
  ssize_t put;
  do {
    put = sendmsg(gSocket, &message, MSG_NOSIGNAL);
  } while (put < 0 && errno == EINTR);
  return put == static_cast<ssize_t>(sizeof record);
}

bool SameParent(const Folder& parent, const Registration& r) {
  struct stat st {};
  return fstat(static_cast<int>(parent.Handle()), &st) == 0 && st.st_dev == r.device && st.st_ino == r.inode;
}

}  // namespace

void StartTempGuardian() {
  std::lock_guard<std::mutex> lock(gMutex);
  StartWatcher();  // the first guarded folder waits for it (or, when it failed, tries again)
}

void StartTempGuardian(int argc, char** argv) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    gArgc = argc;
    gArgv = argv;
  }
  StartTempGuardian();
}

namespace {

// Registers `name` in `parent` with the watcher (kind '+' for a folder, 'f' for a file) and for a
// signal's cleanup, before it is created: a kill in between would otherwise leave it. Returns the
// id, 0 when the watcher cannot take it. Call with gMutex held.
uint64_t Register(const Folder& parent, const std::string& name, char kind) {
  struct stat parentStat {};
  if (gCount >= kMaxFolders || name.size() >= kMaxName || !EnsureWatcher() ||
      fstat(static_cast<int>(parent.Handle()), &parentStat) != 0)
    return 0;
  const uint64_t id = gNextId++;
  if (!Send(kind, id, name, static_cast<int>(parent.Handle()))) return 0;
  for (Registration& r : gRegistrations) {
    if (r.id != 0) continue;
    r = Registration{parentStat.st_dev, parentStat.st_ino, name, id,
                     posix::RemoveOnSignal(static_cast<int>(parent.Handle()), name, kind == '+')};
    break;
  }
  ++gCount;
  return id;
}

// Stops guarding the registration `id` (0: none). Call with gMutex held.
void Unregister(uint64_t id) {
  if (id == 0) return;
  for (Registration& r : gRegistrations) {
    if (r.id != id) continue;
    posix::ForgetOnSignal(r.signalSlot);
    if (gSocket >= 0 && gOwner == getpid() && Send('-', r.id, r.name, -1)) --gCount;
    r = Registration{};
    break;
  }
}

}  // namespace

std::string CreateGuardedFolder(const Folder& parent, const std::string& prefix, const std::string& suffix) {
  if (!parent.IsOpen()) return {};
  std::lock_guard<std::mutex> lock(gMutex);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + RandomHex() + suffix;
    const uint64_t id = Register(parent, name, '+');
    if (id == 0) return {};
    std::error_code ec;
    if (parent.CreateSubfolder(name, true, ec)) return name;
    Unregister(id);
    if (ec != std::errc::file_exists) return {};
  }
  return {};
}

bool RemoveGuardedFolder(const Folder& parent, const std::string& name) {
  if (!parent.IsOpen()) return false;
  parent.RemoveSubfolderWithFiles(name);
  const bool gone = !parent.Lookup(name).has_value();
  if (!gone) return false;
  std::lock_guard<std::mutex> lock(gMutex);
  for (const Registration& r : gRegistrations) {
    if (r.id == 0 || r.name != name || !SameParent(parent, r)) continue;
    Unregister(r.id);
    break;
  }
  return true;
}

namespace posix {

uint64_t GuardFileName(const Folder& parent, const std::string& name) {
  if (!parent.IsOpen()) return 0;
  std::lock_guard<std::mutex> lock(gMutex);
  return Register(parent, name, 'f');
}

void ReleaseGuardedFile(uint64_t ticket) {
  std::lock_guard<std::mutex> lock(gMutex);
  Unregister(ticket);
}

}  // namespace posix

}  // namespace kvelv::platform
