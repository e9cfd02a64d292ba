// Start-up of the console build: batch mode only, never a window. Which mode runs is fixed by
// the executable (kvelv or kvelv-gui), before anything else happens.
#include <string>
#include <vector>

#include "app/BatchMode.h"
#include "app/LastChance.h"
#include "platform/Console.h"
#include "platform/CrashExit.h"
#include "platform/StandardStreams.h"
#include "platform/TempGuardian.h"

int main(int argc, char** argv) {
  // First of all: no file or socket of ours may take the number of a stream the caller closed.
  if (!kvelv::platform::OpenStandardStreams()) return kvelv::exit_code::kUnhandledError;
  // A crash on any thread is an unhandled error like any other: never a success.
  kvelv::platform::EndProcessOnCrash(kvelv::exit_code::kUnhandledError);
  // UTF-8 arguments; on Windows read from the UTF-16 command line.
  std::vector<std::string> args = kvelv::platform::CommandLineArguments(argc, argv);
  // The password stays in `args` only, not in what the process list shows.
  kvelv::platform::WipeOptionValues(argc, argv, "-password");
  // While the process is small and has one thread; after the wipe, as the watcher gets a copy.
  kvelv::platform::StartTempGuardian();
  return kvelv::RunWithLastChance(
      [&args] {
        kvelv::BatchJobRunner jobs(kvelv::platform::ConsoleErr(), kvelv::platform::StandardErrorIsTerminal());
        return kvelv::RunBatchMode(args, kvelv::platform::ConsoleOut(), jobs);
      },
      kvelv::platform::ConsoleErr());
}
