// The console program at the edges of its process: standard streams its caller closed, and a
// source that changes while it is packed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/FaultRun.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FaultOptions;
using test::ListTree;
using test::TempDir;

class ProcessEdgesTest : public ::testing::Test {
 protected:
  // The container at `target` holds exactly the `files` of work_, as they are now.
  void ExpectContainerHolds(const std::string& target, const std::vector<std::string>& files) {
    TempDir folder;
    ASSERT_EQ(test::Decrypt(target, folder.Path()).exitCode, 0);
    EXPECT_EQ(ListTree(folder.Path()), files);
    for (const std::string& name : files) EXPECT_TRUE(test::ReadFile(folder.Join(name)) == test::ReadFile(work_.Join(name)));
  }

  TempDir work_;
  TempDir tmp_;
};

// `2>&-` and the like, with a hidden file in the list (so a notice is written) and without: no
// file or socket of the program's takes the closed number, and the job does all its work.
TEST_F(ProcessEdgesTest, ClosedStandardStreams) {
  test::WriteFile(work_.Join("a.bin"), test::RandomBytes(3 << 20, 1));
  test::WriteFile(work_.Join("b.txt"), test::LogText(100000, 2));
  test::WriteFile(work_.Join(".hidden"), "left out with a notice");
  const std::string target = work_.Join("out.kvelv");
  for (const char* redirect : {"2>&-", ">&- 2>&-", "<&- 2>&-"}) {
    for (bool hidden : {false, true}) {
      SCOPED_TRACE(std::string(redirect) + (hidden ? " with a hidden file" : ""));
      fs::remove(target);
      const std::string files =
          work_.Join("a.bin") + ";" + work_.Join("b.txt") + (hidden ? ";" + work_.Join(".hidden") : "");
      FaultOptions options;
      options.tmpDir = tmp_.Path();
      const auto result = test::RunUnderFault(
          "/bin/sh",
          {"-c", std::string("exec \"$0\" \"$@\" ") + redirect, test::KvelvBinary(), "-encrypt", "-password=pw",
           "-files=" + files, "-to_file=" + target},
          options);
      EXPECT_EQ(result.exitCode, 0);
      ExpectContainerHolds(target, {"a.bin", "b.txt"});
      EXPECT_TRUE(fs::is_empty(tmp_.Path()));
    }
  }
}

// A source truncated, rewritten inside, or appended to while the job packs it (once the
// temporary archive has reached 3 MiB of the source's 24): the first two fail the job, the file
// named on standard error, the old container kept; the third is packed as the file was when its
// packing began. Nothing temporary is left either way.
TEST_F(ProcessEdgesTest, SourceChangedWhilePacked) {
  constexpr size_t kSize = 24u << 20;
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    bool packed;
  };
  const Case cases[] = {
      {"truncated", [](const std::string& path) { fs::resize_file(path, kSize / 2); }, false},
      {"rewritten inside",
       [](const std::string& path) {
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(kSize / 4 * 3);
         file << "rewritten inside";
       },
       false},
      {"appended", [](const std::string& path) { std::ofstream(path, std::ios::app | std::ios::binary) << std::string(1 << 20, 'a'); },
       true},
  };
  const std::string source = work_.Join("log.bin");
  const std::string target = work_.Join("x.kvelv");
  const std::string err = work_.Join("err.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(source, test::RandomBytes(kSize, 7));
    // Set back, so that the change shows in the time whatever the clock's resolution.
    fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(48));
    test::WriteFile(target, "old container");
    bool changed = false;
    FaultOptions options;
    options.tmpDir = tmp_.Path();
    options.errFile = err;
    options.whileRunning = [&] { changed = test::WhenAFileGrowsTo(tmp_.Path(), 3 << 20, [&] { c.change(source); }); };
    const auto result = test::Encrypt(source, target, options);
    ASSERT_TRUE(changed) << "the job ended before the file was changed";
    if (c.packed) {
      EXPECT_EQ(result.exitCode, 0);
      fs::resize_file(source, kSize);  // back to what it was when packing began
      ExpectContainerHolds(target, {"log.bin"});
    } else {
      EXPECT_EQ(result.exitCode, 2);
      EXPECT_EQ(test::ReadFile(target), "old container");
      EXPECT_EQ(test::ReadFile(err), "Encryption failed: File \"" + source + "\" changed while it was packed\r\n");
    }
    EXPECT_EQ(ListTree(work_.Path()), (std::vector<std::string>{"err.txt", "log.bin", "x.kvelv"}));
    EXPECT_TRUE(fs::is_empty(tmp_.Path()));
  }
}

}  // namespace
}  // namespace kvelv
