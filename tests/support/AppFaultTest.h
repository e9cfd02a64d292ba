#pragma once
// The fixture of the console program's fault tests: a work folder, the child's own $TMPDIR
// (which must be empty after every run), and the two jobs run with it.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {

class AppFaultTest : public ::testing::Test {
 protected:
  // `options` with the child's $TMPDIR set to tmp_.
  FaultOptions WithTmp(FaultOptions options = {}) const {
    options.tmpDir = tmp_.Path();
    return options;
  }
  // The console program's jobs (password "pw") with $TMPDIR tmp_; the exit code. A child ended
  // by a signal fails the test.
  int RunEncrypt(const std::string& files, const std::string& target, const FaultOptions& options = {}) {
    return ExitCode(test::Encrypt(files, target, WithTmp(options)));
  }
  int RunDecrypt(const std::string& container, const std::string& folder, const FaultOptions& options = {}) {
    return ExitCode(test::Decrypt(container, folder, WithTmp(options)));
  }

  TempDir work_;
  TempDir tmp_;

 private:
  static int ExitCode(const FaultResult& result) {
    EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
    return result.exitCode;
  }
};

}  // namespace kvelv::test
