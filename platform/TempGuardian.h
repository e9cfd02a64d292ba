#pragma once
// Private temporary folders that cannot outlive the process: a small watcher process empties
// and removes every guarded folder when this process ends without doing it itself, even when it
// is killed (SIGKILL) or crashes. Plaintext kept in such a folder is gone shortly after the end.
#include <string>

namespace kvelv::platform {

// Creates a new folder "<parent>~<random hex><suffix>" (mode 0700, only the owner may enter),
// guarded as above; "" when it cannot be created. `parent` ends with the separator.
std::string CreateGuardedFolder(const std::string& parent, const std::string& suffix);
// Removes the folder's files and the folder itself (one level: it holds only files) and stops
// guarding it. True when the folder is gone afterwards.
bool RemoveGuardedFolder(const std::string& folder);

}  // namespace kvelv::platform
