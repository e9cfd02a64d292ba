#pragma once
// Runs the console binary in a child under injected faults: a file-size limit (the disk fills),
// a private $TMPDIR, a kill after a delay; plus helpers the fault and hostile-input tests share.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/ArchiveMaker.h"
#include "tests/support/TestData.h"

namespace kvelv::test {

struct FaultOptions {
  int64_t fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes (SIGXFSZ ignored), -1 for none
  std::string tmpDir;          // $TMPDIR of the child, "" to inherit
  int killAfterMicros = -1;    // `killSignal` after this delay, -1 to let it finish
  int killSignal = 9;          // SIGKILL; SIGINT for an interrupt from the terminal
  std::string workingDir;      // the child's current folder, "" to inherit
  int64_t memoryLimit = -1;    // RLIMIT_AS in bytes, -1 for none (ignored under AddressSanitizer,
                               // which reserves far more address space than it uses)
  std::string errFile;         // the child's standard error goes here, "" for /dev/null
  bool ignoreHangUp = false;   // started with SIGHUP ignored, as nohup does
  std::function<void()> whileRunning;  // run here once the child is started, before any kill
};

struct FaultResult {
  int exitCode = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;     // the signal that ended it, 0 when it exited
};

// Runs `program` with `args` (program name excluded), stdin/stdout/stderr on /dev/null.
FaultResult RunUnderFault(const std::string& program, const std::vector<std::string>& args,
                          const FaultOptions& options);
// The console binary's two jobs with the password "pw": the ";"-separated `files` into the
// container `target`, and the container into `folder`.
FaultResult Encrypt(const std::string& files, const std::string& target, const FaultOptions& options = {});
FaultResult Decrypt(const std::string& container, const std::string& folder, const FaultOptions& options = {});

// Names (relative, "/" separated) of everything below `folder`, sorted; "" for an empty one.
std::vector<std::string> ListTree(const std::string& folder);
// Waits (bounded, a few seconds) until `folder` is empty; true when it is. The watcher that
// removes a killed job's temporary folder runs on its own schedule.
bool WaitUntilEmpty(const std::string& folder);
// Waits (at most a minute) until some file below `folder` holds `size` bytes or more, then runs
// `action` and returns true; false when none did in time. A job's temporary archive growing in
// its $TMPDIR tells how far its packing has come.
bool WhenAFileGrowsTo(const std::string& folder, int64_t size, const std::function<void()>& action);

}  // namespace kvelv::test
