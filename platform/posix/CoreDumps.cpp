#include "platform/CoreDumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace kvelv::platform {

void DisableCoreDumps() {
  // Both, as each covers what the other misses: the limit does not stop a core pattern that
  // pipes to a program, and the flag is set back when the process's credentials change.
  const rlimit none{0, 0};
  (void)setrlimit(RLIMIT_CORE, &none);
  (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace kvelv::platform
