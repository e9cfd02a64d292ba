// The handler is installed with sigaction on first use. The registered names live in static
// slots; a slot is changed only with the three signals blocked on the changing thread and a spin
// lock held, which the handler takes too: it can never interrupt a change half made on its own
// thread, and waits for one on another thread, which is short and never blocks.
#include "platform/posix/SignalCleanup.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kvelv::platform::posix {

namespace {

constexpr int kSlots = 64;
constexpr size_t kMaxName = 256;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Slot {
  bool used = false;
  bool folder = false;
  int parent = -1;
  char name[kMaxName] = {};
};

Slot gSlots[kSlots];
std::atomic_flag gLock = ATOMIC_FLAG_INIT;
std::atomic<pid_t> gOwner{0};         // the process whose names these are
std::atomic<bool> gInstalled{false};
std::atomic<int> gCleaning{0};        // 1 while a handler removes the names, 2 once they are gone

void Acquire() {
  while (gLock.test_and_set(std::memory_order_acquire)) {
  }
}
void Release() { gLock.clear(std::memory_order_release); }

// Blocks the three signals on this thread for the life of the object.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

void RemoveRegistered() {
  Acquire();
  for (Slot& slot : gSlots) {
    if (!slot.used) continue;
    if (slot.folder) {
      EmptyAndRemove(slot.parent, slot.name);
    } else {
      unlinkat(slot.parent, slot.name, 0);
    }
  }
  Release();
}

void OnSignal(int signal) {
  const int saved = errno;
  if (getpid() == gOwner.load()) {
    int idle = 0;
    if (gCleaning.compare_exchange_strong(idle, 1)) {
      RemoveRegistered();
      gCleaning.store(2);
    } else {
      while (gCleaning.load() != 2) {
        // Another thread is removing the names; the process ends once it is done.
      }
    }
  }
  // End as the signal would have ended the process without this handler.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  errno = saved;  // not reached for the three signals, whose default action ends the process
}

void InstallOnce() {
  if (gInstalled.exchange(true)) return;
  for (int s : kSignals) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO) != 0) {
      continue;  // ignored (nohup) or handled by someone else: left as it is
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(s, &action, nullptr);
  }
}

}  // namespace

void EmptyAndRemove(int parent, const char* name) {
  int dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
        const char* file = entry->name;
        if (!(file[0] == '.' && (file[1] == 0 || (file[1] == '.' && file[2] == 0)))) unlinkat(dir, file, 0);
        at += entry->reclen;
      }
    }
    close(dir);
  }
  unlinkat(parent, name, AT_REMOVEDIR);
}

int RemoveOnSignal(int parent, const std::string& name, bool folder) {
  if (name.empty() || name.size() >= kMaxName) return -1;
  const int copy = fcntl(parent, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return -1;
  InstallOnce();
  SignalsHeld held;
  Acquire();
  if (gOwner.load() != getpid()) {
    // A forked copy: the slots it inherited are its parent's; the descriptors in them are this
    // process's copies.
    for (Slot& slot : gSlots) {
      if (slot.used) close(slot.parent);
      slot = Slot{};
    }
    gOwner.store(getpid());
  }
  int found = -1;
  for (int i = 0; i < kSlots && found < 0; ++i) {
    if (gSlots[i].used) continue;
    Slot& slot = gSlots[i];
    slot.folder = folder;
    slot.parent = copy;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.used = true;
    found = i;
  }
  Release();
  if (found < 0) close(copy);
  return found;
}

void ForgetOnSignal(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  SignalsHeld held;
  Acquire();
  if (gOwner.load() == getpid() && gSlots[slot].used) {
    close(gSlots[slot].parent);
    gSlots[slot] = Slot{};
  }
  Release();
}

}  // namespace kvelv::platform::posix
