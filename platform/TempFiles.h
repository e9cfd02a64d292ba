#pragma once
// The temporary folder and unique names inside it.
#include <string>
#include <system_error>

#include "platform/File.h"

namespace kvelv::platform {

// $TMPDIR when set and an existing folder, else /tmp; always ends with the separator.
std::string TempFolder();
// Random upper-case hexadecimal digits (8 to 12), for names that should not collide.
std::string RandomHex();
// "<folder>~<random hex><extension>", a separator added after a folder without one; a candidate
// only: nothing is checked or created.
std::string RandomTempName(const std::string& folder, const std::string& extension);
// A path "<folder>~<random hex><extension>" naming no existing file; nothing is created.
std::string UniqueName(const std::string& folder, const std::string& extension);
// Creates a new empty file with a unique name in `folder` (mode 0600, O_EXCL, no symlink);
// retries on a clash. Sets `path` to its name.
File CreateUniqueFile(const std::string& folder, const std::string& extension, std::string& path,
                      std::error_code& ec);

}  // namespace kvelv::platform
