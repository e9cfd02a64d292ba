// Small files deflated ahead on worker threads: a prepared entry is exactly the single stream the
// pass would write, and whatever the prefetcher cannot vouch for is left to the pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/Crc32.h"
#include "zip/EntryPrefetcher.h"
#include "zip/ParallelDeflate.h"
#include "zip/ZipWriter.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

struct Files {
  test::TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> contents;

  void Add(const std::string& name, std::string content) {
    paths.push_back(dir.Join(name));
    test::WriteFile(paths.back(), content);
    contents.push_back(std::move(content));
  }
  std::optional<PrefetchedEntry> Take(EntryPrefetcher& prefetch, size_t i) const {
    return prefetch.Take(i, platform::StampOf(paths[i]).value_or(platform::FileStamp{-1}));
  }
};

TEST(EntryPrefetcherTest, PreparesTheSingleStreamAndCrcForSizesUpToOneChunk) {
  Files files;
  const size_t chunk = kParallelDeflateChunk;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100}, chunk - 1, chunk}) {
    files.Add("f" + std::to_string(size), test::LogText(size, static_cast<unsigned>(size)));
  }
  EntryPrefetcher prefetch(files.paths, std::vector<bool>(files.paths.size(), true), 6, 2);
  for (size_t i = 0; i < files.paths.size(); ++i) {
    const auto entry = files.Take(prefetch, i);
    ASSERT_TRUE(entry) << files.contents[i].size();
    EXPECT_EQ(entry->stamp.size, static_cast<int64_t>(files.contents[i].size()));
    EXPECT_EQ(entry->crc, ComputeCrc32(files.contents[i]));
    const std::string deflated(entry->deflated.begin(), entry->deflated.end());
    EXPECT_TRUE(deflated == test::WriterDeflate(files.contents[i])) << "size " << files.contents[i].size();
  }
}

TEST(EntryPrefetcherTest, LeavesToThePassWhatItCannotVouchFor) {
  Files files;
  files.Add("big.txt", test::LogText(kParallelDeflateChunk + 1, 1));  // deflated in chunks by the pass
  files.Add("unwanted.txt", "stored, say");
  files.Add("gone.txt", "deleted before its turn");
  files.Add("grown.txt", "shorter");
  files.Add("ok.txt", "prepared");
  files.Add("rewritten.txt", "same size");
  std::filesystem::remove(files.paths[2]);
  std::filesystem::create_directory(files.dir.Join("folder"));
  files.paths.push_back(files.dir.Join("folder"));
  files.contents.emplace_back();

  std::vector<bool> wanted(files.paths.size(), true);
  wanted[1] = false;
  EntryPrefetcher prefetch(files.paths, wanted, 6, 2);
  EXPECT_FALSE(files.Take(prefetch, 0));
  EXPECT_FALSE(files.Take(prefetch, 1));
  EXPECT_FALSE(files.Take(prefetch, 2));
  // What the pass sees now is not what was read: the pass packs the file itself.
  auto stamp = platform::StampOf(files.paths[3]);
  ASSERT_TRUE(stamp);
  ++stamp->size;
  EXPECT_FALSE(prefetch.Take(3, *stamp));
  EXPECT_TRUE(files.Take(prefetch, 4));
  // Rewritten to the same size: only the time of the last write tells.
  stamp = platform::StampOf(files.paths[5]);
  ASSERT_TRUE(stamp);
  ++stamp->modified;
  EXPECT_FALSE(prefetch.Take(5, *stamp));
  EXPECT_FALSE(files.Take(prefetch, 6));
}

TEST(EntryPrefetcherTest, ItemsPassedOverAreDroppedAndCannotBeTakenLater) {
  Files files;
  for (int i = 0; i < 40; ++i) files.Add("f" + std::to_string(i), test::LogText(5000, static_cast<unsigned>(i)));
  // A small window and a tiny held limit: workers keep pausing and resuming as items are taken.
  EntryPrefetcher prefetch(files.paths, std::vector<bool>(files.paths.size(), true), 6, 3, 4, 1);
  EXPECT_TRUE(files.Take(prefetch, 0));
  EXPECT_TRUE(files.Take(prefetch, 7));
  EXPECT_FALSE(files.Take(prefetch, 5));
  EXPECT_FALSE(files.Take(prefetch, 7));
  for (size_t i = 8; i < 40; i += 3) EXPECT_TRUE(files.Take(prefetch, i)) << i;
}

TEST(EntryPrefetcherTest, StopsPromptlyWithWorkLeft) {
  Files files;
  for (int i = 0; i < 200; ++i) files.Add("f" + std::to_string(i), test::LogText(20000, static_cast<unsigned>(i)));
  {
    EntryPrefetcher prefetch(files.paths, std::vector<bool>(files.paths.size(), true), 6, 2);
    EXPECT_TRUE(files.Take(prefetch, 1));
  }  // destroyed with most items untaken: must neither hang nor leak
  EntryPrefetcher never(files.paths, std::vector<bool>(files.paths.size(), true), 6, 2);
}

// The writer with the prefetcher: many small files, hooks that skip or change files on the way.
class PrefetchedArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.Join("in"));
    for (int i = 0; i < 120; ++i) {
      const std::string name = "s" + std::to_string(i) + ".txt";
      contents_.push_back(test::LogText(static_cast<size_t>(i * 397 % 20000), static_cast<unsigned>(i)));
      items_.push_back(dir_.Join("in/" + name));
      test::WriteFile(items_.back(), contents_.back());
    }
    writer_.SetZipName(dir_.Join("small.zip"));
  }
  std::vector<test::RawEntry> Pack() {
    writer_.SetFilesList(items_);
    writer_.PackFiles();
    return test::ReadRawEntries(test::ReadFile(dir_.Join("small.zip")));
  }

  test::TempDir dir_;
  std::vector<std::string> items_;
  std::vector<std::string> contents_;
  ZipWriter writer_;
};

TEST_F(PrefetchedArchiveTest, EveryEntryHoldsTheSingleStreamOfItsFile) {
  const auto entries = Pack();
  ASSERT_EQ(entries.size(), items_.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, "s" + std::to_string(i) + ".txt");
    EXPECT_EQ(entries[i].crc, ComputeCrc32(contents_[i])) << i;
    EXPECT_EQ(entries[i].uncompressedSize, contents_[i].size()) << i;
    EXPECT_TRUE(entries[i].data == test::WriterDeflate(contents_[i])) << i;
  }
}

TEST_F(PrefetchedArchiveTest, FilesChangedMissingOrLockedOnTheWayArePackedAsWithoutIt) {
  // After entry 10, entry 11 (read ahead by then) is rewritten longer and entry 20 is deleted;
  // entry 30 is locked by another process, so its open fails and is reported once.
  const std::string grown = test::LogText(30000, 99);
  writer_.OnEndZip = [&](const std::string& path, uint64_t, uint64_t) {
    if (path == items_[10]) {
      test::WriteFile(items_[11], grown);
      std::filesystem::remove(items_[20]);
    }
  };
  std::vector<std::string> missing;
  writer_.OnNoSuchFile = [&](const std::string& path) { missing.push_back(path); };
  std::vector<std::string> openErrors;
  writer_.OnSkippingFile = [&](SkipReason reason, bool& retry, int, const std::string& path) {
    if (reason == SkipReason::srFileOpenError) openErrors.push_back(path);
    retry = false;
  };
  test::ChildLock lock(items_[30], true);
  const auto entries = Pack();
  ASSERT_EQ(entries.size(), items_.size() - 2);
  EXPECT_EQ(openErrors, std::vector<std::string>{items_[30]});
  EXPECT_EQ(missing, std::vector<std::string>{items_[20]});
  for (const auto& e : entries) {
    const size_t i = std::stoul(e.name.substr(1));
    const std::string& expected = i == 11 ? grown : contents_[i];
    EXPECT_NE(i, 20u);
    EXPECT_EQ(e.crc, ComputeCrc32(expected)) << i;
    EXPECT_TRUE(e.data == test::WriterDeflate(expected)) << i;
  }
}

}  // namespace
}  // namespace kvelv
