// Start-up of the console build: batch mode only, never a window. Which mode runs is fixed by
// the executable (kvelv or kvelv-gui), before anything else happens.
#include <string>
#include <utility>
#include <vector>

#include "app/BatchMode.h"
#include "app/LastChance.h"
#include "platform/Console.h"
#include "platform/CoreDumps.h"
#include "platform/CrashExit.h"
#include "platform/StandardStreams.h"
#include "platform/TempGuardian.h"

namespace {

// UTF-8 arguments (on Windows read from the UTF-16 command line), then the password taken out
// of what the process list shows. The copy returned is the one batch mode hands over to secret
// storage and wipes.
std::vector<std::string> TakeArguments(int argc, char** argv) {
  std::vector<std::string> args = kvelv::platform::CommandLineArguments(argc, argv);
  kvelv::platform::WipeOptionValues(argc, argv, "-password");
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  // First of all: no file or socket of ours may take the number of a stream the caller closed.
  if (!kvelv::platform::OpenStandardStreams()) return kvelv::exit_code::kUnhandledError;
  // A crash on any thread is an unhandled error like any other: never a success.
  kvelv::platform::EndProcessOnCrash(kvelv::exit_code::kUnhandledError);
  // No core file, whatever the shell allows: it would hold the password and the key.
  kvelv::platform::DisableCoreDumps();
  // While the process is small and has one thread, and before the arguments are copied: the
  // watcher wipes the ones it inherits.
  kvelv::platform::StartTempGuardian(argc, argv);
  std::vector<std::string> args = TakeArguments(argc, argv);
  return kvelv::RunWithLastChance(
      [&args] {
        kvelv::BatchJobRunner jobs(kvelv::platform::ConsoleErr(), kvelv::platform::StandardErrorIsTerminal());
        return kvelv::RunBatchMode(std::move(args), kvelv::platform::ConsoleOut(), jobs);
      },
      kvelv::platform::ConsoleErr());
}
