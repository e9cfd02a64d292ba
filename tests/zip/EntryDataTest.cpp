// Stored copies of entry data, the deflate bound, and the Zip64 reservation rule of local headers.
#include "zip/codec/EntryData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "zip/common/BufferedFileStream.h"
#include "zip/pack/PackedLocalHeader.h"
#include "zip/ZipExceptions.h"
#include "zip/records/ZipHeaderInfo.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

// Feeds `data` in reads of at most `chunk` bytes.
SourceReader ChunkedReader(const std::string& data, size_t chunk, size_t& pos) {
  return [&data, chunk, &pos](uint8_t* buffer, size_t max) {
    size_t n = std::min({max, chunk, data.size() - pos});
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(pos), data.begin() + static_cast<std::ptrdiff_t>(pos + n), buffer);
    pos += n;
    return n;
  };
}

TEST(EntryDataTest, StoreCopiesIn32KiBBlocks) {
  const std::string data = test::RandomBytes(100000, 11);
  size_t pos = 0;
  std::string out;
  std::vector<size_t> blocks;
  StoreEntryData(ChunkedReader(data, 1 << 20, pos), [&](const uint8_t* p, size_t n) {
    blocks.push_back(n);
    out.append(reinterpret_cast<const char*>(p), n);
  });
  EXPECT_EQ(out, data);
  EXPECT_EQ(blocks, (std::vector<size_t>{32768, 32768, 32768, 1696}));
}

TEST(EntryDataTest, OwnBoundCoversZlibsBound) {
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{65535}, uint64_t{1} << 30, uint64_t{0xFFFFFFFF}, uint64_t{0xFFFFFFFF} * 2}) {
    EXPECT_GE(DeflateBound(size), deflateBound(&zs, static_cast<uLong>(size))) << size;
  }
  deflateEnd(&zs);
}

TEST(PackedLocalHeaderTest, ReservationBoundary) {
  const uint64_t max = MaxBytesWithoutZip64Reserve();
  EXPECT_LT(DeflateBound(max), 0xFFFFFFFFu);
  EXPECT_GE(DeflateBound(max + 1), 0xFFFFFFFFu);
  EXPECT_FALSE(NeedsZip64Reserve(max));
  EXPECT_TRUE(NeedsZip64Reserve(max + 1));
  EXPECT_TRUE(NeedsZip64Reserve(0xFFFFFFFFull));
  EXPECT_FALSE(NeedsZip64Reserve(0));
  // The margin is small: files a few MiB under 4 GiB still go without Zip64.
  EXPECT_GT(max, 0xFFFFFFFFull - (8u << 20));
}

// Writes the header twice like the writer does and returns the file.
std::string WriteTwice(ZipHeaderInfo& entry, bool reserve, uint64_t finalCompressed, uint64_t finalUncompressed,
                       int64_t& firstLength, int64_t& secondLength, const std::string& path) {
  BufferedFileStream out;
  std::error_code ec;
  EXPECT_TRUE(out.Open(path, platform::OpenMode::CreateAlways, ec)) << ec.message();
  firstLength = WritePackedLocalHeader(out, entry, reserve);
  entry.SetCompressedSize(finalCompressed);
  entry.SetUncompressedSize(finalUncompressed);
  entry.SetCrc32(0x12345678);
  EXPECT_TRUE(out.Seek(0));
  secondLength = WritePackedLocalHeader(out, entry, reserve);
  EXPECT_TRUE(out.Close());
  return test::ReadFile(path);
}

TEST(PackedLocalHeaderTest, ReservedFieldKeepsTheHeaderLengthWhateverTheFinalSizes) {
  test::TempDir dir;
  ZipHeaderInfo entry;
  entry.SetFileName("big.bin");
  entry.SetUncompressedSize(0xFFFFFFF0ull);  // just under 4 GiB at opening
  entry.SetCompressedSize(0);
  int64_t first = 0, second = 0;
  // The file shrank to 1000 bytes while it was read: still the same header length.
  const std::string bytes = WriteTwice(entry, true, 900, 1000, first, second, dir.Join("h"));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, 30 + 7 + 4 + 16);
  auto view = test::ReadLocalView(dir.Join("h"), 0);
  EXPECT_EQ(view.versionNeeded, 45);
  EXPECT_EQ(view.compressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(view.uncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(view.crc, 0x12345678u);
  auto fields = test::ExtraFields(view.extra);
  ASSERT_EQ(fields.count(0x0001), 1u);
  EXPECT_EQ(fields[0x0001].size(), 16u);
  EXPECT_EQ(test::LeValue(fields[0x0001], 0, 8), 1000u);  // uncompressed first
  EXPECT_EQ(test::LeValue(fields[0x0001], 8, 8), 900u);
}

TEST(PackedLocalHeaderTest, WithoutReservationSmallEntriesHaveNoExtraField) {
  test::TempDir dir;
  ZipHeaderInfo entry;
  entry.SetFileName("a.txt");
  entry.SetUncompressedSize(10);
  int64_t first = 0, second = 0;
  WriteTwice(entry, false, 12, 10, first, second, dir.Join("h"));
  EXPECT_EQ(first, 35);
  EXPECT_EQ(second, 35);
  auto view = test::ReadLocalView(dir.Join("h"), 0);
  EXPECT_EQ(view.versionNeeded, 20);
  EXPECT_EQ(view.extraLength, 0);
  EXPECT_EQ(view.compressedSize, 12u);
  EXPECT_EQ(view.uncompressedSize, 10u);
}

}  // namespace
}  // namespace kvelv
