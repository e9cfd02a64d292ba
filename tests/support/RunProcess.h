#pragma once
// Runs a program as a child process with standard input closed and collects what it writes.
#include <string>
#include <vector>

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

}  // namespace kvelv::test
