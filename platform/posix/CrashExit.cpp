#include "platform/CrashExit.h"

namespace kvelv::platform {

// The default action of SIGSEGV, SIGBUS and the like ends the process with the signal, which a
// shell and waitpid report as such: never as exit code 0.
void EndProcessOnCrash(int /*exitCode*/) {}

}  // namespace kvelv::platform
