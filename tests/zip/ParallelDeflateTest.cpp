// Parallel deflate: the pieces form one raw deflate stream that inflates to the input at every
// size around the chunk boundaries, stays close to a single stream, and stops cleanly on errors.
#include "zip/ParallelDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <stdexcept>
#include <string>

#include "tests/support/ZipTestSupport.h"
#include "zip/ZipExceptions.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

constexpr size_t kChunk = 64 * 1024;

// Log-like text: compressible, but with matches reaching across chunk boundaries.
// Hands out `data` in reads of varying length, never more than asked.
SourceReader Reader(const std::string& data, size_t& pos, unsigned seed = 1) {
  auto gen = std::make_shared<std::mt19937>(seed);
  return [&data, &pos, gen](uint8_t* buffer, size_t max) {
    const size_t n = std::min({max, data.size() - pos, size_t{1} + (*gen)() % 100000});
    std::copy_n(data.data() + pos, n, buffer);
    pos += n;
    return n;
  };
}

// Inflates a raw deflate stream that must end exactly at the end of `deflated`.
std::string Parallel(const std::string& data, unsigned threads, size_t chunk, int level = 6) {
  size_t pos = 0;
  std::string out;
  ParallelDeflateEntryData(level, Reader(data, pos), [&](const uint8_t* p, size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
  }, threads, chunk);
  EXPECT_EQ(pos, data.size()) << "every byte must be read";
  return out;
}

TEST(ParallelDeflateTest, InflatesToTheInputAtEverySizeAroundChunkBoundaries) {
  const std::string text = test::LogText(9 * kChunk + 100, 3);
  const std::string random = test::RandomBytes(9 * kChunk + 100, 4);
  for (size_t size : {size_t{0}, size_t{1}, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 1, 2 * kChunk,
                      2 * kChunk + 1, 9 * kChunk + 100}) {
    for (const std::string* source : {&text, &random}) {
      const std::string data = source->substr(0, size);
      for (unsigned threads : {1u, 2u, 5u}) {
        const std::string packed = Parallel(data, threads, kChunk);
        ASSERT_EQ(test::RawInflate(packed), data) << "size " << size << " threads " << threads
                                             << (source == &text ? " text" : " random");
      }
    }
  }
}

TEST(ParallelDeflateTest, EveryLevelGivesAValidStream) {
  const std::string data = test::LogText(5 * kChunk + 7, 8) + test::RandomBytes(kChunk, 9);
  for (int level = 1; level <= 9; ++level) {
    EXPECT_EQ(test::RawInflate(Parallel(data, 3, kChunk, level)), data) << "level " << level;
  }
}

TEST(ParallelDeflateTest, OneChunkIsTheSingleStream) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{1000}, kChunk}) {
    const std::string data = test::LogText(size, 12);
    EXPECT_EQ(Parallel(data, 2, kChunk), test::RawDeflate(data, 6)) << "size " << size;
  }
}

TEST(ParallelDeflateTest, DefaultChunksStayCloseToTheSingleStreamAndWithinTheBound) {
  const std::string text = test::LogText(5 * kParallelDeflateChunk + 12345, 21);
  const std::string parallel = Parallel(text, 2, kParallelDeflateChunk);
  const std::string single = test::RawDeflate(text, 6);
  EXPECT_EQ(test::RawInflate(parallel), text);
  EXPECT_LE(static_cast<double>(parallel.size()), static_cast<double>(single.size()) * 1.01)
      << "parallel " << parallel.size() << " single " << single.size();

  // Incompressible data is where the per-chunk cost shows most.
  const std::string random = test::RandomBytes(8 * kParallelDeflateChunk + 1, 22);
  const std::string packed = Parallel(random, 2, kParallelDeflateChunk);
  EXPECT_EQ(test::RawInflate(packed), random);
  EXPECT_LE(packed.size(), DeflateBound(random.size()));
  // Without the bound's fixed slack too: the chunks' own cost fits, however many there are.
  EXPECT_LE(packed.size(), random.size() + random.size() / 16000 * 5);
}

TEST(ParallelDeflateTest, ReadErrorStopsTheWorkersAndPassesThrough) {
  const std::string data = test::LogText(20 * kChunk, 5);
  for (size_t failAt : {size_t{0}, kChunk / 2, 3 * kChunk, 15 * kChunk}) {
    size_t pos = 0;
    SourceReader inner = Reader(data, pos);
    SourceReader failing = [&](uint8_t* buffer, size_t max) -> size_t {
      if (pos >= failAt) throw EZipException("Cannot read file");
      return inner(buffer, max);
    };
    size_t written = 0;
    EXPECT_THROW(ParallelDeflateEntryData(6, failing, [&](const uint8_t*, size_t n) { written += n; }, 2, kChunk),
                 EZipException)
        << "fail at " << failAt;
  }
}

TEST(ParallelDeflateTest, WriteErrorStopsTheWorkersAndPassesThrough) {
  const std::string data = test::RandomBytes(20 * kChunk, 6);
  for (int failOn : {1, 2, 7}) {
    size_t pos = 0;
    int calls = 0;
    auto write = [&](const uint8_t*, size_t) {
      if (++calls == failOn) throw ENotEnoughRoom("Not enough room to write archive");
    };
    EXPECT_THROW(ParallelDeflateEntryData(6, Reader(data, pos), write, 3, kChunk), ENotEnoughRoom);
  }
}

TEST(ParallelDeflateTest, ACheckThatThrowsWhileWaitingStopsTheWorkersAndPassesThrough) {
  // The check runs before the first wait, while the chunk waited for is still being compressed
  // (slow ones, at level 9): it must outlive its worker when the check throws (a cancel request).
  const std::string data = test::RandomBytes(8 * kParallelDeflateChunk, 8);
  ParallelDeflater deflater;
  int checks = 0;
  deflater.SetCheckWhileWaiting([&] {
    if (++checks == 1) throw EUserCanceled("User Aborted Operation");
  });
  size_t pos = 0;
  EXPECT_THROW(deflater.Deflate(9, Reader(data, pos), [](const uint8_t*, size_t) {}, 2), EUserCanceled);
  EXPECT_EQ(checks, 1);
  EXPECT_LT(pos, data.size());  // it stopped reading too
}

TEST(ParallelDeflateTest, PiecesArriveInOrderAndMemoryIsBounded) {
  // The reader never runs more than the in-flight limit ahead of the writer.
  const std::string data = test::RandomBytes(40 * kChunk, 7);
  const unsigned threads = 2;
  size_t pos = 0;
  size_t written = 0;
  size_t worstLead = 0;
  SourceReader inner = Reader(data, pos);
  SourceReader read = [&](uint8_t* buffer, size_t max) {
    worstLead = std::max(worstLead, pos - std::min(pos, written));
    return inner(buffer, max);
  };
  std::string out;
  ParallelDeflateEntryData(6, read, [&](const uint8_t* p, size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
    written = std::min(data.size(), written + n);  // random data: output about as long as input
  }, threads, kChunk);
  EXPECT_EQ(test::RawInflate(out), data);
  EXPECT_LE(worstLead, (2 * threads + 3) * kChunk);
}

}  // namespace
}  // namespace kvelv
