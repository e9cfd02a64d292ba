#pragma once
#include <string>
#include <vector>

#include "jobs/ContainerFormat.h"
#include "jobs/JobMode.h"
#include "jobs/Prompter.h"
#include "platform/SecretBytes.h"

namespace kvelv {

// Packs `files` (each path taken as it is) into a temporary archive and encrypts it into
// `target`. Hidden and system files, and a file whose name an earlier one already has, are left
// out with a notice; a listed file that cannot be found, opened or read fails the job, and no
// container is written then. Returns the process exit code in batch mode (0, 2 or 3) and 0
// in interactive mode, where the outcome is reported through `prompter`.
// The temporary archive is written encrypted, under a key that exists only in memory.
// `password` is UTF-8 text. `format` chooses the container: the classic one, or the sealed one
// (docs/FORMAT.md).
int EncryptFiles(const platform::SecretBytes& password, const std::vector<std::string>& files,
                 const std::string& target, JobMode mode, Prompter& prompter,
                 ContainerFormat format = ContainerFormat::Classic);

}  // namespace kvelv
