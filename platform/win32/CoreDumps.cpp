// Windows writes no core file of its own accord. What could write a dump is Windows Error
// Reporting, when a crash reaches the system's last handler: EndProcessOnCrash
// (platform/CrashExit.h) installs a filter that ends the process before that, and turns off the
// system's fault dialog. Nothing is left to do here.
#include "platform/CoreDumps.h"

namespace kvelv::platform {

void DisableCoreDumps() {}

}  // namespace kvelv::platform
