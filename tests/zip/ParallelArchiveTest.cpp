// Archives whose large entries were deflated in parallel: the entry data is the parallel stream,
// close in size to a single stream, and other tools and our own reader accept every entry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "tests/support/FaultRun.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestData.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"
#include "zip/codec/ParallelDeflate.h"
#include "zip/common/Crc32.h"

namespace kvelv {
namespace {

class ParallelArchiveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    // Sizes around the chunk boundaries of the writer's default chunk.
    const size_t chunk = kParallelDeflateChunk;
    files_ = new std::vector<std::pair<std::string, std::string>>{
        {"log.txt", test::LogText(4 * chunk + 12345, 1)},
        {"exact.txt", test::LogText(2 * chunk, 2)},
        {"oneplus.txt", test::LogText(chunk + 1, 3)},
        {"random.bin", test::RandomBytes(3 * chunk - 1, 4)},
        {"small.txt", "small entries keep the single stream"},
        {"empty.txt", ""},
    };
    std::vector<std::string> items;
    std::filesystem::create_directories(dir_->Join("in"));
    for (const auto& [name, content] : *files_) {
      test::WriteFile(dir_->Join("in/" + name), content);
      items.push_back(dir_->Join("in/" + name));
    }
    ZipWriter writer;
    writer.SetZipName(dir_->Join("parallel.zip"));
    writer.SetFilesList(items);
    ASSERT_EQ(writer.PackFiles(), static_cast<int>(files_->size()));
  }
  static void TearDownTestSuite() {
    delete files_;
    delete dir_;
  }
  static std::string Archive() { return dir_->Join("parallel.zip"); }

  static test::TempDir* dir_;
  static std::vector<std::pair<std::string, std::string>>* files_;
};

test::TempDir* ParallelArchiveTest::dir_ = nullptr;
std::vector<std::pair<std::string, std::string>>* ParallelArchiveTest::files_ = nullptr;

TEST_F(ParallelArchiveTest, LargeEntriesHoldTheParallelStreamNearTheSingleStreamSize) {
  const auto entries = test::ReadRawEntries(test::ReadFile(Archive()));
  ASSERT_EQ(entries.size(), files_->size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& [name, content] = (*files_)[i];
    const auto& e = entries[i];
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(e.method, 8) << name;
    EXPECT_EQ(e.crc, ComputeCrc32(content)) << name;
    EXPECT_EQ(e.uncompressedSize, content.size()) << name;
    EXPECT_EQ(e.compressedSize, e.data.size()) << name;
    // Compared as booleans: a failure must not print megabytes of binary.
    EXPECT_TRUE(e.data == test::WriterDeflate(content, true)) << name << " is not the parallel stream";
    const std::string single = test::WriterDeflate(content, false);
    if (content.size() <= kParallelDeflateChunk) {
      EXPECT_TRUE(e.data == single) << name << " is not the single stream";
    }
    EXPECT_LE(static_cast<double>(e.data.size()), static_cast<double>(single.size()) * 1.01) << name;
  }
}

TEST_F(ParallelArchiveTest, PeersTestEveryEntryAndReadTheSameBytes) {
  std::string listing;
  for (const auto& [name, content] : *files_) listing += name + " " + test::Sha256Hex(content) + "\n";
  EXPECT_EQ(test::PeersDisagree(Archive(), listing), "");
}

TEST_F(ParallelArchiveTest, OwnReaderVerifiesAndExtractsTheSameBytes) {
  test::TempDir out;
  ZipWriter reader;
  reader.SetZipName(Archive());
  reader.SetDestDir(out.Path());
  reader.SetDoAll(true);
  EXPECT_TRUE(reader.VerifyArchive());
  reader.ReadDirectory();
  EXPECT_EQ(reader.ExtractAll(), static_cast<int>(files_->size()));
  for (const auto& [name, content] : *files_) EXPECT_EQ(test::ReadFile(out.Join(name)), content) << name;
}

TEST_F(ParallelArchiveTest, DamageInALargeEntryFailsTheTestAndLeavesNoFile) {
  // One flipped byte in the middle of random.bin's data: its CRC no longer matches.
  std::string bytes = test::ReadFile(Archive());
  const auto entries = test::ReadRawEntries(bytes);
  const auto& e = entries[3];
  ASSERT_EQ(e.name, "random.bin");
  const size_t at = bytes.find(e.data.substr(0, 256));
  ASSERT_NE(at, std::string::npos);
  bytes[at + e.data.size() / 2] ^= 0x10;
  const std::string damaged = dir_->Join("damaged.zip");
  test::WriteFile(damaged, bytes);

  test::TempDir out;
  ZipWriter reader;
  reader.SetZipName(damaged);
  reader.SetDestDir(out.Path());
  reader.SetDoAll(true);
  int badCrcs = 0;
  reader.OnBadCRC = [&](uint32_t, int, uint32_t) { ++badCrcs; };
  EXPECT_FALSE(reader.VerifyArchive());
  reader.ReadDirectory();
  try {
    reader.ExtractAll();
  } catch (const EZipException&) {
    // damage that breaks the deflate structure ends the pass instead; no file either way
  }
  EXPECT_GE(badCrcs, 1);
  EXPECT_FALSE(std::filesystem::exists(out.Join("random.bin")));
  EXPECT_EQ(test::ReadFile(out.Join("log.txt")), (*files_)[0].second);
}

// A disk that fills up in the middle of a parallel entry: ENotEnoughRoom, no archive left.
TEST_F(ParallelArchiveTest, DiskFullDuringAParallelEntryLeavesNoArchive) {
  const std::string target = dir_->Join("full.zip");
  for (rlim_t limit : {rlim_t{100}, rlim_t{kParallelDeflateChunk / 8}, rlim_t{kParallelDeflateChunk / 2}}) {
    const int code = test::InChildUnderFileSizeLimit(static_cast<int64_t>(limit), [&] {
      try {
        ZipWriter writer;
        writer.SetZipName(target);
        writer.SetFilesList({dir_->Join("in/random.bin"), dir_->Join("in/log.txt")});
        writer.PackFiles();
      } catch (const ENotEnoughRoom&) {
        return 0;
      } catch (...) {
        return 2;
      }
      return 3;
    });
    EXPECT_EQ(code, 0) << "limit " << limit;
    EXPECT_FALSE(std::filesystem::exists(target)) << "limit " << limit;
  }
}

}  // namespace
}  // namespace kvelv
