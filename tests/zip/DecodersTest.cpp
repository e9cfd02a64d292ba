// The entry decoders on real archives in every method, with odd input chunking, truncation and
// hostile data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <random>

#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/codec/EntryDecoder.h"
#include "zip/codec/Explode.h"
#include "zip/codec/Inflater.h"
#include "zip/codec/Unreduce.h"
#include "zip/codec/Unshrink.h"

namespace kvelv {
namespace {

using test::MemorySource;
using test::RawEntry;
using test::StringSink;

const std::string kLegacyDir = test::LegacyArchiveDir();
using test::ReadLegacyManifest;

std::map<std::string, RawEntry> EntriesOf(const std::string& archive) {
  std::map<std::string, RawEntry> byName;
  for (auto& e : test::ReadRawEntries(test::ReadFile(kLegacyDir + "/" + archive))) byName[e.name] = e;
  return byName;
}

std::string Decode(const RawEntry& e, size_t chunk, std::string_view data) {
  MemorySource in(data, chunk);
  StringSink out(e.uncompressedSize + 65536);
  if (!DecodeEntry(e.method, e.flags, in, out, e.uncompressedSize)) throw std::runtime_error("unsupported");
  EXPECT_LE(in.Consumed(), data.size());
  return out.bytes;
}

#define SKIP_WITHOUT_TESTDATA()                                                                   \
  if (!std::filesystem::exists(kLegacyDir + "/MANIFEST.tsv"))                                      \
  GTEST_SKIP() << "shared test data not found at " << kLegacyDir << " (the shared test data)"

TEST(DecodersTest, EveryManifestEntryDecodesWithAnyChunking) {
  SKIP_WITHOUT_TESTDATA();
  auto rows = ReadLegacyManifest();
  ASSERT_EQ(rows.size(), 38u);
  std::set<int> methods;
  for (const auto& row : rows) {
    auto entries = EntriesOf(row.archive);
    ASSERT_TRUE(entries.count(row.entry)) << row.archive << " " << row.entry;
    const RawEntry& e = entries[row.entry];
    ASSERT_EQ(e.method, row.method);
    ASSERT_EQ(e.uncompressedSize, row.size);
    methods.insert(e.method);
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{1} << 20}) {
      std::string bytes = Decode(e, chunk, e.data);
      EXPECT_EQ(test::Sha256Hex(bytes), row.sha256) << row.archive << " " << row.entry << " chunk " << chunk;
      EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())), e.crc);
    }
  }
  EXPECT_EQ(methods, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 8}));
}

TEST(DecodersTest, TruncatedDataRaisesPrematureEnd) {
  SKIP_WITHOUT_TESTDATA();
  for (const auto& [name, e] : EntriesOf("all_methods.zip")) {
    for (size_t keep : {size_t{0}, e.data.size() / 2, e.data.size() - 1}) {
      EXPECT_THROW(Decode(e, 7, std::string_view(e.data).substr(0, keep)), EFatalUnzipError)
          << name << " cut to " << keep;
    }
  }
}

TEST(DecodersTest, DataAfterTheEntryIsNotNeeded) {
  SKIP_WITHOUT_TESTDATA();
  // Trailing bytes change nothing: each decoder stops at the uncompressed size or stream end.
  for (const auto& [name, e] : EntriesOf("all_methods.zip")) {
    if (e.method == 0) continue;
    std::string padded = e.data + std::string(100, '\xA5');
    EXPECT_EQ(test::Sha256Hex(Decode(e, 4096, padded)), test::Sha256Hex(Decode(e, 4096, e.data))) << name;
  }
}

TEST(DecodersTest, ZeroSizeReadsNothingAndUnknownMethodsAreRefused) {
  StringSink out;
  MemorySource in("abc", 1);
  Unshrink(in, out, 0);
  Unreduce(in, out, 0, 2);
  Explode(in, out, 0, 6);
  EXPECT_EQ(in.Consumed(), 0u);
  EXPECT_TRUE(out.bytes.empty());
  EXPECT_FALSE(IsSupportedMethod(7));
  EXPECT_FALSE(IsSupportedMethod(12));
  EXPECT_FALSE(DecodeEntry(12, 0, in, out, 3));
  EXPECT_EQ(in.Consumed(), 0u);
}

TEST(DecodersTest, StoredCopiesInBoundedBlocks) {
  std::string data(100000, '\0');
  std::mt19937 rng(1);
  for (auto& c : data) c = static_cast<char>(rng());
  MemorySource in(data, 50000);
  StringSink out;
  CopyStored(in, out, data.size());
  EXPECT_EQ(out.bytes, data);
  EXPECT_LE(out.largestBlock, 32768u);
  MemorySource shortIn(std::string_view(data).substr(0, 10), 3);
  EXPECT_THROW(CopyStored(shortIn, out, 11), EFatalUnzipError);
}

// Bits written least-significant first, as the legacy methods store them.
class BitWriter {
 public:
  void Put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (bit_ == 0) bytes_.push_back('\0');
      if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << bit_));
      bit_ = (bit_ + 1) % 8;
    }
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  unsigned bit_ = 0;
};

std::string ShrinkCodes(std::initializer_list<uint32_t> codes, unsigned width = 9) {
  BitWriter w;
  for (uint32_t c : codes) w.Put(c, width);
  return w.Bytes();
}

TEST(DecodersTest, UnshrinkHandlesUnknownCodesAndRejectsBadControls) {
  StringSink out;
  // "A", then 257 before it exists: previous string + its first byte.
  std::string ok = ShrinkCodes({'A', 257, 258});
  MemorySource in(ok, 1);
  Unshrink(in, out, 6);
  EXPECT_EQ(out.bytes, "AAAAAA");

  auto decode = [](const std::string& data, uint64_t size) {
    MemorySource in(data, 7);
    StringSink out(1 << 20);
    Unshrink(in, out, size);
  };
  EXPECT_THROW(decode(ShrinkCodes({'A', 256, 3, 'B'}), 2), EBadCompressedData);
  EXPECT_THROW(decode(ShrinkCodes({300, 'B'}), 2), EBadCompressedData);
  EXPECT_THROW(decode(ShrinkCodes({256, 2}), 1), EFatalUnzipError);
  // Widening past 13 bits.
  BitWriter wide;
  for (unsigned width = 9; width <= 13; ++width) wide.Put(256, width), wide.Put(1, width);
  wide.Put('A', 13);
  EXPECT_THROW(decode(wide.Bytes(), 1), EBadCompressedData);
  // A partial clear that frees the previous code lets the next entry point at itself.
  EXPECT_THROW(decode(ShrinkCodes({'A', 257, 256, 2, 257, 257, 257}), 1000), EBadCompressedData);
}

TEST(DecodersTest, UnreduceRejectsIndexesOutsideTheFollowerSet) {
  BitWriter w;
  for (int set = 255; set >= 1; --set) w.Put(0, 6);
  w.Put(3, 6);  // S(0) = {1, 2, 3}: indexes take 2 bits
  for (uint32_t b : {1, 2, 3}) w.Put(b, 8);
  w.Put(0, 1);
  w.Put(2, 2);  // S(0)[2] = 3
  w.Put('x', 8);  // S(3) is empty: a plain byte without a flag bit
  std::string good = w.Bytes();
  StringSink out;
  MemorySource in(good, 1);
  Unreduce(in, out, 2, 1);
  EXPECT_EQ(out.bytes, "\3x");

  BitWriter bad;
  for (int set = 255; set >= 1; --set) bad.Put(0, 6);
  bad.Put(3, 6);
  for (uint32_t b : {1, 2, 3}) bad.Put(b, 8);
  bad.Put(0, 1);
  bad.Put(3, 2);
  MemorySource badIn(bad.Bytes(), 7);
  EXPECT_THROW(Unreduce(badIn, out, 5, 4), EBadCompressedData);
}

TEST(DecodersTest, UnreduceCopiesFromBeforeTheStartAsZeros) {
  BitWriter w;
  for (int set = 255; set >= 0; --set) w.Put(0, 6);
  // DLE, length 2 (factor 1: low 7 bits), distance byte 9: five bytes from ten back.
  for (uint32_t b : {uint32_t{'a'}, 144u, 2u, 9u}) w.Put(b, 8);
  StringSink out;
  MemorySource in(w.Bytes(), 3);
  Unreduce(in, out, 6, 1);
  EXPECT_EQ(out.bytes, std::string("a\0\0\0\0\0", 6));
}

// An implode tree as stored: groups of (count, bit length).
void PutTree(BitWriter& w, const std::vector<std::pair<unsigned, unsigned>>& groups) {
  w.Put(static_cast<uint32_t>(groups.size() - 1), 8);
  for (auto [count, length] : groups) w.Put(((count - 1) << 4) | (length - 1), 8);
}

std::string ExplodeWithTrees(const std::vector<std::pair<unsigned, unsigned>>& lengthTree,
                             const std::vector<std::pair<unsigned, unsigned>>& distanceTree, uint64_t size) {
  BitWriter w;
  PutTree(w, lengthTree);
  PutTree(w, distanceTree);
  for (int i = 0; i < 4; ++i) w.Put(0xFFFF, 16);
  MemorySource in(w.Bytes(), 5);
  StringSink out(1 << 20);
  Explode(in, out, size, 0);
  return out.bytes;
}

TEST(DecodersTest, ExplodeRejectsBadTrees) {
  const std::vector<std::pair<unsigned, unsigned>> complete = {{16, 6}, {16, 6}, {16, 6}, {16, 6}};
  // The last byte's literal flags: all ones, raw 8-bit literals.
  EXPECT_EQ(ExplodeWithTrees(complete, complete, 2), "\xFF\xFF");
  EXPECT_THROW(ExplodeWithTrees({{16, 6}, {16, 6}, {16, 6}}, complete, 2), EBadCompressedData);
  EXPECT_THROW(ExplodeWithTrees({{16, 6}, {16, 6}, {16, 6}, {16, 6}, {1, 6}}, complete, 2), EBadCompressedData);
  EXPECT_THROW(ExplodeWithTrees(complete, {{16, 1}, {16, 1}, {16, 1}, {16, 1}}, 2), EBadCompressedData);
}

TEST(DecodersTest, ExplodeRejectsUndefinedCodes) {
  // 64 codes of 16 bits leave almost every bit pattern undefined.
  BitWriter w;
  PutTree(w, {{16, 16}, {16, 16}, {16, 16}, {16, 16}});
  PutTree(w, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
  w.Put(0, 1);   // a match
  w.Put(0, 6);   // low distance bits
  w.Put(0, 6);   // distance code
  w.Put(0x5555, 16);
  w.Put(0x5555, 16);
  MemorySource in(w.Bytes(), 1);
  StringSink out;
  EXPECT_THROW(Explode(in, out, 10, 0), EBadCompressedData);
}

TEST(DecodersTest, RandomInputEndsInAnExceptionOrBoundedOutput) {
  std::mt19937 rng(20240314);
  for (int round = 0; round < 300; ++round) {
    std::string garbage(rng() % 3000, '\0');
    for (auto& c : garbage) c = static_cast<char>(rng());
    uint16_t method = std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 6, 8}[round % 8];
    uint16_t flags = static_cast<uint16_t>(rng() & 6);
    uint64_t size = round % 2 ? 100000 : (uint64_t{1} << 40);  // hostile declared size
    MemorySource in(garbage, 1 + rng() % 5000);
    StringSink out(200000);
    try {
      DecodeEntry(method, flags, in, out, size);
    } catch (const EZipException&) {
    } catch (const std::length_error&) {
      // the sink's limit stopped a decoder that was still within its declared size
    }
    EXPECT_LE(out.bytes.size(), 200000u);
  }
}

TEST(DecodersTest, DamagedRealStreamsEndInAnExceptionOrBoundedOutput) {
  SKIP_WITHOUT_TESTDATA();
  // Flipped bytes keep most of a stream valid, so they reach deeper than random input does.
  std::mt19937 rng(6);
  for (const auto& [name, e] : EntriesOf("all_methods.zip")) {
    for (int round = 0; round < 40; ++round) {
      std::string damaged = e.data;
      for (int flips = 1 + round % 4; flips > 0; --flips) {
        damaged[rng() % damaged.size()] ^= static_cast<char>(1 + rng() % 255);
      }
      MemorySource in(damaged, 1 + rng() % 9000);
      StringSink out(e.uncompressedSize + 65536);
      try {
        DecodeEntry(e.method, e.flags, in, out, e.uncompressedSize);
      } catch (const EZipException&) {
      } catch (const std::length_error&) {
      }
      if (e.method != 8) {
        EXPECT_LE(out.bytes.size(), e.uncompressedSize) << name;
      }
    }
  }
}

}  // namespace
}  // namespace kvelv
