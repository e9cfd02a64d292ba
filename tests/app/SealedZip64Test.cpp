// A file past 4 GiB (sparse, so it costs no disk to make) through a sealed container and back.
// It writes 4 GiB while extracting and takes a minute or more: it runs only with KVELV_SLOW_TESTS=1.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {
namespace {

TEST(SealedZip64Test, SparseFilePastFourGiBRoundTrips) {
  const char* slow = std::getenv("KVELV_SLOW_TESTS");
  if (slow == nullptr || std::string(slow) != "1") GTEST_SKIP() << "a minute of work: set KVELV_SLOW_TESTS=1";
  TempDir work, out;
  const std::string big = work.Join("big.bin");
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "end", 3, (int64_t{1} << 32) + 10), 3);
  ::close(fd);
  const std::string container = work.Join("big.orvkvelv");
  ASSERT_EQ(RunKvelv({"-encrypt", "-format=2", "-password=pw", "-files=" + big, "-to_file=" + container}).exitCode, 0);
  ASSERT_EQ(RunKvelv({"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + out.Path()}).exitCode, 0);
  const std::string back = out.Join("big.bin");
  EXPECT_EQ(std::filesystem::file_size(back), (uint64_t{1} << 32) + 13);
  const int in = ::open(back.c_str(), O_RDONLY);
  char tail[3] = {};
  EXPECT_EQ(::pread(in, tail, 3, (int64_t{1} << 32) + 10), 3);
  ::close(in);
  EXPECT_EQ(std::string(tail, 3), "end");
}

}  // namespace
}  // namespace kvelv::test
