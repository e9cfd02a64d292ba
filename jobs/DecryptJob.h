#pragma once
#include <string>

#include "jobs/ContainerFormat.h"
#include "jobs/JobMode.h"
#include "jobs/Prompter.h"
#include "platform/SecretBytes.h"

namespace kvelv {

// Reads the archive in `container` (decrypted where it is read, never written to disk), tests
// every entry and writes it, staged, into `folder`, all of them or none. Returns the exit code in
// batch mode (0, 2, 3, or 6 for a target file another program holds) and 0 in interactive mode.
// `password` is UTF-8 text. Both formats are read, told apart by the sealed one's magic; `oldest`
// Sealed refuses a classic container (a script forbidding a downgrade). A sealed container's
// every chunk is checked before anything is committed.
int DecryptFileToFolder(const platform::SecretBytes& password, const std::string& container,
                        const std::string& folder, JobMode mode, Prompter& prompter,
                        ContainerFormat oldest = ContainerFormat::Classic);

}  // namespace kvelv
