// The extraction output: every byte reaches the file and the CRC in order, whether the entry is
// small (summed and written on the caller's thread) or large (on the output's own thread); the
// size limit and write failures still end the entry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "tests/support/FaultRun.h"
#include "tests/support/TestData.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/common/Crc32.h"
#include "zip/extract/EntryStreams.h"

namespace kvelv {
namespace {

// Writes `data` in blocks of varying size up to 32768 bytes; returns the progress total.
size_t Feed(EntryOutput& output, const std::string& data, unsigned seed) {
  std::mt19937 gen(seed);
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t n = std::min<size_t>(data.size() - pos, 1 + gen() % 32768);
    output.Write(reinterpret_cast<const uint8_t*>(data.data()) + pos, n);
    pos += n;
  }
  return pos;
}

TEST(EntryStreamsTest, FileAndCrcGetEveryByteInOrderForSmallAndLargeEntries) {
  test::TempDir dir;
  for (size_t size : {size_t{0}, size_t{1000}, (size_t{1} << 20) - 1, size_t{1} << 20, (size_t{5} << 20) + 17}) {
    const std::string data = test::RandomBytes(size, static_cast<unsigned>(size));
    const std::string path = dir.Join("out" + std::to_string(size));
    size_t reported = 0;
    {
      BufferedFileStream file;
      file.OpenOrThrow(path, platform::OpenMode::CreateAlways);
      EntryOutput output(&file, data.size(), [&](size_t n) { reported += n; });
      Feed(output, data, 3);
      output.Finish();
      EXPECT_EQ(output.Crc(), ComputeCrc32(data)) << size;
      EXPECT_EQ(output.Written(), data.size());
      ASSERT_TRUE(file.Close());
    }
    EXPECT_EQ(reported, data.size());
    EXPECT_EQ(test::ReadFile(path), data) << size;

    // Test mode: no file, the same CRC.
    EntryOutput testOnly(nullptr, data.size(), nullptr);
    Feed(testOnly, data, 4);
    testOnly.Finish();
    EXPECT_EQ(testOnly.Crc(), ComputeCrc32(data));
  }
}

TEST(EntryStreamsTest, BlocksDecodedIntoTheRoomArriveWithoutLoss) {
  // As the inflater does: decode into Room(), then Write() it in blocks; mixed with plain writes.
  test::TempDir dir;
  const std::string data = test::RandomBytes((3 << 20) + 4321, 12);
  const std::string path = dir.Join("room.bin");
  BufferedFileStream file;
  file.OpenOrThrow(path, platform::OpenMode::CreateAlways);
  EntryOutput output(&file, data.size(), nullptr);
  std::mt19937 gen(2);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t room = 0;
    uint8_t* target = output.Room(room);
    ASSERT_NE(target, nullptr);
    ASSERT_GE(room, 32768u);
    const size_t n = std::min({data.size() - pos, room, size_t{1} + gen() % 200000});
    std::memcpy(target, data.data() + pos, n);
    for (size_t at = 0; at < n; at += 32768) output.Write(target + at, std::min<size_t>(32768, n - at));
    pos += n;
    if (gen() % 3 == 0 && pos < data.size()) {  // an ordinary block in between
      const size_t m = std::min<size_t>(data.size() - pos, 1 + gen() % 32768);
      output.Write(reinterpret_cast<const uint8_t*>(data.data()) + pos, m);
      pos += m;
    }
  }
  output.Finish();
  EXPECT_EQ(output.Crc(), ComputeCrc32(data));
  ASSERT_TRUE(file.Close());
  EXPECT_TRUE(test::ReadFile(path) == data);

  size_t none = 1;
  EntryOutput small(nullptr, 1000, nullptr);  // small entries have no room to offer
  EXPECT_EQ(small.Room(none), nullptr);
  EXPECT_EQ(none, 0u);
}

TEST(EntryStreamsTest, MoreThanDeclaredIsRefusedOnTheCallersThread) {
  const std::string data = test::RandomBytes(3 << 20, 8);
  EntryOutput output(nullptr, data.size() - 1, nullptr);
  EXPECT_THROW(Feed(output, data, 5), EBiggerThanUncompressed);
  output.Finish();  // what was taken is summed; nothing hangs
  EXPECT_LE(output.Written(), data.size() - 1);
}

TEST(EntryStreamsTest, AbandonedOutputStopsItsThread) {
  const std::string data = test::RandomBytes(2 << 20, 9);
  for (int i = 0; i < 20; ++i) {
    EntryOutput output(nullptr, 8 << 20, nullptr);
    Feed(output, data, static_cast<unsigned>(i));
    // destroyed without Finish(), as when the decoder throws
  }
  SUCCEED();
}

// A full disk, simulated with a file size limit in a forked child: a large entry's write failure
// surfaces as ECantWriteUCF from Write() or Finish().
TEST(EntryStreamsTest, WriteFailureOfALargeEntryRaisesCantWrite) {
  test::TempDir dir;
  const std::string path = dir.Join("full.bin");
  const std::string data = test::RandomBytes(4 << 20, 10);
  for (rlim_t limit : {rlim_t{0}, rlim_t{100000}, rlim_t{(3 << 20) + 5}}) {
    const int code = test::InChildUnderFileSizeLimit(static_cast<int64_t>(limit), [&] {
      try {
        BufferedFileStream file;
        file.OpenOrThrow(path, platform::OpenMode::CreateAlways);
        EntryOutput output(&file, data.size(), nullptr);
        Feed(output, data, 1);
        output.Finish();
        return file.Close() ? 4 : 5;
      } catch (const ECantWriteUCF& e) {
        return std::string(e.what()) == "Cant write uncompressed file" ? 0 : 6;
      } catch (...) {
        return 2;
      }
    });
    EXPECT_EQ(code, 0) << "limit " << limit;
  }
}

}  // namespace
}  // namespace kvelv
