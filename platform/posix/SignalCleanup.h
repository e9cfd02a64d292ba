#pragma once
// What a catchable signal that ends the process removes first: the guarded folders and the
// partial files of TempGuardian.h. SIGINT, SIGTERM and SIGHUP get a handler the first time
// something is registered, unless the process was started with the signal ignored (nohup keeps
// ignoring SIGHUP). The handler removes every registered name with async-signal-safe calls only
// (unlinkat, getdents64) and then lets the signal end the process as it would have without the
// handler, so the caller sees the usual status. Only the process that registered cleans up; a
// forked copy of it leaves the names alone.
#include <string>

namespace kvelv::platform::posix {

// Removes the files in the folder `name` of `parent` and the folder itself, following no link.
// Async-signal-safe and heap-free: the watcher and the signal handler both use it.
void EmptyAndRemove(int parent, const char* name);

// Registers `name` in the folder `parent` (a descriptor, duplicated here): a folder emptied and
// removed, or a file unlinked. Returns a slot for ForgetOnSignal, -1 when it cannot be kept.
int RemoveOnSignal(int parent, const std::string& name, bool folder);
void ForgetOnSignal(int slot);

}  // namespace kvelv::platform::posix
