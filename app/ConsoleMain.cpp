// Start-up of the console build: batch mode only, never a window.
#include <iostream>
#include <string>
#include <vector>

#include "app/BatchMode.h"
#include "app/ConsoleMode.h"
#include "app/LastChance.h"

namespace {

// Runs before every other static initialiser of default priority, so no library start-up code
// ever sees the flag false in the console build.
struct ConsoleModeSetter {
  ConsoleModeSetter() { kvelv::ConsoleMode = true; }
};
[[gnu::init_priority(101)]] ConsoleModeSetter consoleModeSetter;

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kvelv::RunWithLastChance(
      [&args] {
        kvelv::BatchJobRunner jobs;
        return kvelv::RunBatchMode(args, std::cout, jobs);
      },
      std::cerr);
}
