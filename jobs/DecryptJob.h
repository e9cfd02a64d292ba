#pragma once
#include <string>

#include "jobs/Prompter.h"

namespace kvelv {

// Decrypts `container` into a temporary archive, tests it and extracts every entry flat into
// `folder`. Returns the exit code in batch mode (0, 2 or 3) and 0 in interactive mode.
int DecryptFileToFolder(const std::string& password, const std::string& container,
                        const std::string& folder, bool interactive, Prompter& prompter);

}  // namespace kvelv
