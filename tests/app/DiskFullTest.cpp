// The disk fills (a file-size limit on the console binary) while the temporary archive is
// written, while the container is written and while files are extracted: exit code 2, no
// partial archive or container, no temporary file anywhere, an existing container unchanged.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/AppFaultTest.h"
#include "tests/support/FaultRun.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FaultOptions;
using test::ListTree;
using test::RunUnderFault;
using test::TempDir;

class DiskFullTest : public test::AppFaultTest {
 protected:
  // Encrypts `source` to `target` with the given file-size limit; the exit code.
  int Encrypt(const std::string& source, const std::string& target, int64_t limit) {
    FaultOptions options;
    options.fileSizeLimit = limit;
    return RunEncrypt(source, target, options);
  }
  int Decrypt(const std::string& container, const std::string& folder, int64_t limit) {
    FaultOptions options;
    options.fileSizeLimit = limit;
    return RunDecrypt(container, folder, options);
  }
};

TEST_F(DiskFullTest, ArchiveWriteFailsCleanlyAndKeepsTheExistingContainer) {
  const std::string source = work_.Join("big.bin");
  test::WriteFile(source, test::RandomBytes(3 << 20, 1));
  const std::string target = work_.Join("out.kvelv");
  test::WriteFile(target, "the previous container");

  EXPECT_EQ(Encrypt(source, target, 1 << 20), 2);
  EXPECT_EQ(test::ReadFile(target), "the previous container");
  EXPECT_EQ(ListTree(work_.Path()), (std::vector<std::string>{"big.bin", "out.kvelv"}));
  EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();
}

TEST_F(DiskFullTest, ContainerWriteFailsCleanlyAndKeepsTheExistingContainer) {
  const std::string source = work_.Join("text.txt");
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
  test::WriteFile(source, text);
  // A first run tells the container's size; one byte less lets the archive (at most the
  // container's size less one padding byte) through and stops the container.
  const std::string probe = work_.Join("probe.kvelv");
  ASSERT_EQ(Encrypt(source, probe, -1), 0);
  const int64_t containerSize = static_cast<int64_t>(fs::file_size(probe));
  fs::remove(probe);

  const std::string target = work_.Join("out.kvelv");
  test::WriteFile(target, "the previous container");
  EXPECT_EQ(Encrypt(source, target, containerSize - 1), 2);
  EXPECT_EQ(test::ReadFile(target), "the previous container");
  EXPECT_EQ(ListTree(work_.Path()), (std::vector<std::string>{"out.kvelv", "text.txt"}));
  EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();

  // And without an existing container, nothing appears under the target name.
  fs::remove(target);
  EXPECT_EQ(Encrypt(source, target, containerSize - 1), 2);
  EXPECT_EQ(ListTree(work_.Path()), (std::vector<std::string>{"text.txt"}));
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

TEST_F(DiskFullTest, ExtractionFailsCleanlyWithoutPartialFiles) {
  // Zeros compress well: the decrypted archive fits the limit, the extracted file does not.
  const std::string source = work_.Join("zeros.bin");
  test::WriteFile(source, std::string(4 << 20, '\0'));
  const std::string container = work_.Join("c.kvelv");
  ASSERT_EQ(Encrypt(source, container, -1), 0);
  ASSERT_LT(fs::file_size(container), 1u << 20);

  const std::string folder = work_.Join("out");
  fs::create_directory(folder);
  EXPECT_EQ(Decrypt(container, folder, 1 << 20), 2);
  EXPECT_TRUE(fs::is_empty(folder)) << ListTree(folder).front();
  EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();

  // The same container extracts fine without the limit.
  EXPECT_EQ(Decrypt(container, folder, -1), 0);
  EXPECT_EQ(fs::file_size(folder + "/zeros.bin"), 4u << 20);
}

TEST_F(DiskFullTest, DecryptedArchiveWriteFailsCleanly) {
  const std::string source = work_.Join("big.bin");
  test::WriteFile(source, test::RandomBytes(2 << 20, 2));
  const std::string container = work_.Join("c.kvelv");
  ASSERT_EQ(Encrypt(source, container, -1), 0);
  const std::string folder = work_.Join("out");
  fs::create_directory(folder);
  EXPECT_EQ(Decrypt(container, folder, 1 << 20), 2);
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();
}

}  // namespace
}  // namespace kvelv
