#pragma once
#include <string>

#include "jobs/Prompter.h"

namespace kvelv {

// Packs the ";"-separated `files` into a temporary archive and encrypts it into `target`.
// Returns the process exit code in batch mode (interactive false: 0, 2 or 3) and 0 in
// interactive mode, where the outcome is reported through `prompter`.
int EncryptFiles(const std::string& password, const std::string& files, const std::string& target,
                 bool interactive, Prompter& prompter);

}  // namespace kvelv
