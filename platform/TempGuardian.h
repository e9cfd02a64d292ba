#pragma once
// Private folders that cannot outlive the process: a small watcher process empties and removes
// every guarded folder when this process ends without doing it itself, even when it is killed
// (SIGKILL) or crashes. Plaintext kept in such a folder is gone shortly after the end. The
// watcher holds the folder's parent open and knows the folder by name, so neither a relative nor
// a long path, nor a parent renamed meanwhile, stops it. On Windows the system does it instead:
// each file created inside is also held delete-on-close (platform/win32/GuardedFiles.h), and
// only the emptied folder can remain.
#include <string>

#include "platform/Folder.h"

namespace kvelv::platform {

// Starts the watcher now, while the process is small; otherwise the first guarded folder starts
// it. A watcher forked later shares every page the process had then, so each later write to one
// of them costs a page copy. Call early in main(), before other threads. Nothing on Windows.
void StartTempGuardian();
// The same, started before the arguments are copied anywhere: the watcher inherits the
// process's memory, and the only secret in it then, a password among the arguments, is wiped in
// the watcher first thing (it needs none of `argv` after the program's name). A watcher forked
// later wipes them as well; secrets the process copied meanwhile are in SecretBytes, which a
// forked child sees as zeros.
void StartTempGuardian(int argc, char** argv);

// Creates a new folder "<prefix><random hex><suffix>" in `parent` (only the owner may enter it),
// guarded as above; returns its name, "" when it cannot be created or cannot be guarded.
std::string CreateGuardedFolder(const Folder& parent, const std::string& prefix, const std::string& suffix);
// Removes the guarded folder `name` of `parent` with the files in it (one level: it holds only
// files) and stops guarding it. True when the folder is gone afterwards.
bool RemoveGuardedFolder(const Folder& parent, const std::string& name);

// The same by paths: "<parent>~<random hex><suffix>", `parent` ending with the separator; the
// whole path of the new folder, "" on failure.
std::string CreateGuardedFolder(const std::string& parent, const std::string& suffix);
bool RemoveGuardedFolder(const std::string& folder);

}  // namespace kvelv::platform
