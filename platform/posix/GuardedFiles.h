#pragma once
// Partial files (platform/PartialFile.h) on POSIX: a name the watcher of TempGuardian.h removes
// when the process ends without releasing it (SIGKILL, a crash), and that a catchable signal
// ending the process removes first (SignalCleanup.h).
#include <cstdint>
#include <string>

#include "platform/Folder.h"

namespace kvelv::platform::posix {

// Guards `name` in `parent`, a file about to be created; returns a ticket for
// ReleaseGuardedFile, 0 when it cannot be guarded (only its owner removes it then).
uint64_t GuardFileName(const Folder& parent, const std::string& name);
// Stops guarding: the file was renamed into place or removed.
void ReleaseGuardedFile(uint64_t ticket);

}  // namespace kvelv::platform::posix
