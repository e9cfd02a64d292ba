// The worker threads of packing and extraction started and ended many times in one process. Each
// round packs small files (deflated ahead on workers), deflates a larger entry in parallel chunks
// on a thread that then ends, and extracts the archive (entries decoded ahead on workers). The
// threads' own state must be gone before each thread is, on every system's thread runtime; a
// round that leaves it behind damages the heap, and a later round crashes or reads wrong bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ZipTestSupport.h"
#include "tests/support/TestSupport.h"
#include "zip/codec/ParallelDeflate.h"
#include "zip/ZipReader.h"
#include "zip/common/ZipTypes.h"
#include "zip/ZipWriter.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

constexpr int kRounds = 200;
constexpr int kSmallFiles = 4;
constexpr size_t kSmallChunk = 32768;  // the smallest chunk: a few workers for a short entry

// Deflates `data` in small chunks, with at least two compressor threads, on a thread that ends.
std::string DeflateOnPassingThread(const std::string& data) {
  std::string packed;
  std::thread caller([&] {
    size_t at = 0;
    ParallelDeflateEntryData(
        6,
        [&](uint8_t* buffer, size_t max) {
          const size_t n = std::min(max, data.size() - at);
          std::copy_n(data.data() + at, n, buffer);
          at += n;
          return n;
        },
        [&](const uint8_t* p, size_t n) { packed.append(reinterpret_cast<const char*>(p), n); }, 3, kSmallChunk);
  });
  caller.join();
  return packed;
}

TEST(WorkerThreadsStressTest, ThreadsOfPackingAndExtractionComeAndGo) {
  // Regression: mingw-w64 ran thread_local destructors after the thread's storage was freed.
  test::TempDir dir;
  std::vector<std::string> items;
  std::vector<std::string> contents;
  for (int i = 0; i < kSmallFiles; ++i) {
    contents.push_back(test::LogText(3000 + 1000 * static_cast<size_t>(i), i));
    items.push_back(dir.Join("small" + std::to_string(i) + ".txt"));
    test::WriteFile(items.back(), contents.back());
  }
  const std::string large = test::LogText(5 * kSmallChunk + 123, 99);

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string archive = dir.Join("round.zip");
    std::filesystem::remove(archive);
    {
      ZipWriter writer;
      writer.SetZipName(archive);
      writer.SetFilesList(items);
      ASSERT_EQ(writer.PackFiles(), kSmallFiles);
    }
    ASSERT_EQ(test::RawInflate(DeflateOnPassingThread(large)), large);

    const std::string out = dir.Join("out" + std::to_string(round % 2));
    ZipReader reader;
    reader.SetZipName(archive);
    reader.SetDestDir(out);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(UZOverwriteMode::Always);
    ASSERT_TRUE(reader.VerifyArchive());
    ASSERT_EQ(reader.ExtractAll(), kSmallFiles);
    reader.ResetArchive();
    for (int i = 0; i < kSmallFiles; ++i) {
      const std::string name = "small" + std::to_string(i) + ".txt";
      ASSERT_EQ(test::ReadFile((std::filesystem::path(out) / name).string()), contents[static_cast<size_t>(i)]);
    }
  }
}

}  // namespace
}  // namespace kvelv
