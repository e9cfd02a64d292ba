// Targets that are locked, read-only or symbolic links, and a target folder removed while files
// are extracted: the job fails or succeeds cleanly, never writes through a link and never
// loses the data already there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/AppFaultTest.h"
#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FaultOptions;
using test::ListTree;
using test::RunUnderFault;
using test::TempDir;

class TargetHazardsTest : public test::AppFaultTest {
 protected:
  void SetUp() override {
    source_ = work_.Join("source.txt");
    test::WriteFile(source_, "the new content");
  }
  int Encrypt(const std::string& target) { return RunEncrypt(source_, target); }
  int Decrypt(const std::string& container, const std::string& folder) { return RunDecrypt(container, folder); }
  // Decrypts `container` into a fresh folder and returns the content of source.txt.
  std::string RoundTrip(const std::string& container) {
    TempDir out;
    EXPECT_EQ(Decrypt(container, out.Path()), 0);
    return test::ReadFile(out.Join("source.txt"));
  }

  std::string source_;
};

TEST_F(TargetHazardsTest, ReadOnlyContainerIsRefusedAndKept) {
  const std::string target = work_.Join("out.kvelv");
  test::WriteFile(target, "old container");
  chmod(target.c_str(), 0444);
  EXPECT_EQ(Encrypt(target), 2);
  EXPECT_EQ(test::ReadFile(target), "old container");
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

TEST_F(TargetHazardsTest, LockedContainerKeepsTheLockHoldersData) {
  // A lock on POSIX is advisory: the container is replaced by name, and whoever holds the old
  // file keeps reading exactly what it had.
  const std::string target = work_.Join("out.kvelv");
  test::WriteFile(target, "old container");
  const std::string keep = work_.Join("hardlink-of-old");
  fs::create_hard_link(target, keep);
  {
    test::ChildLock lock(target, true);
    const int code = Encrypt(target);
    EXPECT_TRUE(code == 0 || code == 2) << code;
    if (code == 0) {
      EXPECT_EQ(RoundTrip(target), "the new content");
    }
    if (code == 2) {
      EXPECT_EQ(test::ReadFile(target), "old container");
    }
  }
  EXPECT_EQ(test::ReadFile(keep), "old container");
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

TEST_F(TargetHazardsTest, SymbolicLinkTargetIsNeverWrittenThrough) {
  TempDir elsewhere;
  const std::string victim = elsewhere.Join("victim.txt");
  test::WriteFile(victim, "someone else's file");
  const std::string target = work_.Join("out.kvelv");
  fs::create_symlink(victim, target);
  const int code = Encrypt(target);
  EXPECT_TRUE(code == 0 || code == 2) << code;
  EXPECT_EQ(test::ReadFile(victim), "someone else's file");
  if (code == 0) {
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(RoundTrip(target), "the new content");
  }
}

TEST_F(TargetHazardsTest, ExtractionNeverFollowsALinkInTheTargetFolder) {
  const std::string container = work_.Join("c.kvelv");
  ASSERT_EQ(Encrypt(container), 0);
  TempDir elsewhere;
  const std::string victim = elsewhere.Join("victim.txt");
  test::WriteFile(victim, "someone else's file");
  TempDir folder;
  fs::create_symlink(victim, folder.Join("source.txt"));
  const int code = Decrypt(container, folder.Path());
  EXPECT_TRUE(code == 0 || code == 2) << code;
  EXPECT_EQ(test::ReadFile(victim), "someone else's file");
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

TEST_F(TargetHazardsTest, ReadOnlyFileInTheTargetFolderIsKept) {
  const std::string container = work_.Join("c.kvelv");
  ASSERT_EQ(Encrypt(container), 0);
  TempDir folder;
  test::WriteFile(folder.Join("source.txt"), "read-only original");
  chmod(folder.Join("source.txt").c_str(), 0444);
  const int code = Decrypt(container, folder.Path());
  EXPECT_TRUE(code == 0 || code == 2) << code;
  EXPECT_EQ(test::ReadFile(folder.Join("source.txt")), "read-only original");
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

TEST_F(TargetHazardsTest, TargetFolderRemovedDuringExtraction) {
  // Many files, so the extraction is still running when the folder goes away.
  std::string files;
  for (int i = 0; i < 60; ++i) {
    const std::string name = work_.Join("f" + std::to_string(i) + ".bin");
    test::WriteFile(name, test::RandomBytes(256 << 10, 100 + i));
    files += (files.empty() ? "" : ";") + name;
  }
  const std::string container = work_.Join("many.kvelv");
  ASSERT_EQ(test::Encrypt(files, container).exitCode, 0);
  TempDir parent;
  for (int delayMs : {0, 20, 80, 200}) {
    const std::string folder = parent.Join("out");
    fs::create_directory(folder);
    std::thread remover([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      std::error_code ec;
      fs::remove_all(folder, ec);
    });
    const int code = Decrypt(container, folder);
    remover.join();
    EXPECT_TRUE(code == 0 || code == 2) << "delay " << delayMs << " ms: exit code " << code;
    // Nothing landed beside the folder, and the plaintext archive is gone.
    std::error_code ec;
    fs::remove_all(folder, ec);
    EXPECT_TRUE(fs::is_empty(parent.Path())) << ListTree(parent.Path()).front();
    EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();
  }
}

}  // namespace
}  // namespace kvelv
