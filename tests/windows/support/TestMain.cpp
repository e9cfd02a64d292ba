// The main of the Windows test programs. A fault on a worker thread must fail the program: left
// to Wine's own handler, a crashed test program has been seen to end with exit code 0.
#include <gtest/gtest.h>

#include "platform/CrashExit.h"

int main(int argc, char** argv) {
  kvelv::platform::EndProcessOnCrash(1);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
