#pragma once
// Runs a program as a child process with standard input closed and collects what it writes.
#include <string>
#include <vector>

#include "tests/support/TestPaths.h"

namespace kvelv::test {

struct ProcessResult {
  int exitCode = -1;     // the exit status, or 128 + signal number when killed by a signal
  std::string out;       // everything written to standard output, byte for byte
  std::string err;       // everything written to standard error
};

// Executes `program` with the argument vector `argv`, whose first element is the program's own
// name as the child sees it (usually `program` again), optionally in `workingFolder`.
// Throws std::runtime_error when the child cannot be started.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& argv,
                         const std::string& workingFolder = std::string());

// The console program of this build with `args`, optionally in `workingFolder`.
inline ProcessResult RunKvelv(std::vector<std::string> args, const std::string& workingFolder = std::string()) {
  args.insert(args.begin(), KvelvBinary());
  return RunProcess(KvelvBinary(), args, workingFolder);
}

}  // namespace kvelv::test
