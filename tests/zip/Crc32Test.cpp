// The fast CRC-32 against the byte-at-a-time table routine and zlib's, on random input of every
// length around the 16-byte step, at every alignment and with the input split anywhere; the
// standard check values.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "zip/common/Crc32.h"

namespace kvelv {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

uint32_t ZlibCrc(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

TEST(Crc32Test, FastEqualsBytewiseForEveryLengthAndAlignment) {
  const std::vector<uint8_t> data = RandomBytes(4096 + 64, 11);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n <= 300; ++n) {
      const uint8_t* p = data.data() + offset;
      const uint32_t reference = Crc32UpdateBytewise(kCrc32Start, p, n);
      ASSERT_EQ(Crc32Update(kCrc32Start, p, n), reference) << "offset " << offset << " length " << n;
      ASSERT_EQ(~reference, ZlibCrc(p, n)) << "offset " << offset << " length " << n;
    }
  }
}

TEST(Crc32Test, FastEqualsBytewiseOnLargeRandomInputAndAnyRegister) {
  std::mt19937 gen(5);
  for (unsigned seed = 0; seed < 20; ++seed) {
    const std::vector<uint8_t> data = RandomBytes(1 + gen() % 300000, seed);
    const uint32_t start = seed == 0 ? kCrc32Start : static_cast<uint32_t>(gen());
    EXPECT_EQ(Crc32Update(start, data.data(), data.size()), Crc32UpdateBytewise(start, data.data(), data.size()));
    EXPECT_EQ(ComputeCrc32(data.data(), data.size()), ZlibCrc(data.data(), data.size()));
  }
}

TEST(Crc32Test, SplitInputGivesTheSameCrc) {
  const std::vector<uint8_t> data = RandomBytes(70000, 3);
  const uint32_t whole = ComputeCrc32(data.data(), data.size());
  std::mt19937 gen(9);
  for (int round = 0; round < 50; ++round) {
    uint32_t reg = kCrc32Start;
    size_t pos = 0;
    while (pos < data.size()) {
      const size_t n = std::min<size_t>(data.size() - pos, gen() % 40000);
      reg = Crc32Update(reg, data.data() + pos, n);
      pos += n;
    }
    ASSERT_EQ(~reg, whole);
  }
}

TEST(Crc32Test, AllZeroAndAllOnesBlocks) {
  for (uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
    const std::vector<uint8_t> data(100003, fill);
    EXPECT_EQ(ComputeCrc32(data.data(), data.size()), ZlibCrc(data.data(), data.size()));
  }
}

TEST(Crc32Test, KnownVectors) {
  // Check values of the standard ZIP CRC-32 ("123456789" is the usual check string).
  EXPECT_EQ(ComputeCrc32(std::string_view("123456789")), 0xCBF43926u);
  EXPECT_EQ(ComputeCrc32(std::string_view("")), 0u);
  EXPECT_EQ(ComputeCrc32(std::string_view("a")), 0xE8B7BE43u);
  EXPECT_EQ(ComputeCrc32(std::string_view("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(Crc32Test, RegisterCarriesAcrossChunks) {
  const std::string text = "123456789";
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t reg = kCrc32Start;
  reg = Crc32Update(reg, p, 4);
  reg = Crc32Update(reg, p + 4, 0);
  reg = Crc32Update(reg, p + 4, 5);
  EXPECT_EQ(~reg, 0xCBF43926u);
}

}  // namespace
}  // namespace kvelv
