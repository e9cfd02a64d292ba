#include "zip/codec/Explode.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "zip/codec/BitReader.h"
#include "zip/codec/OutputWindow.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr unsigned kMaxCodeLength = 16;

// A Shannon-Fano code as a lookup table indexed by the next `maxLength_` input bits.
class ShannonFanoTree {
 public:
  // Reads a stored tree that must expand to exactly `valueCount` bit lengths.
  ShannonFanoTree(BitReader& bits, size_t valueCount) {
    std::vector<uint8_t> lengths;
    lengths.reserve(valueCount);
    unsigned groups = bits.Bits(8) + 1;
    for (unsigned g = 0; g < groups; ++g) {
      uint32_t packed = bits.Bits(8);
      unsigned count = (packed >> 4) + 1;
      uint8_t length = static_cast<uint8_t>((packed & 0x0F) + 1);
      if (lengths.size() + count > valueCount) throw EBadCompressedData("Imploded data has an over-long code table");
      lengths.insert(lengths.end(), count, length);
    }
    if (lengths.size() != valueCount) throw EBadCompressedData("Imploded data has an incomplete code table");
    Build(lengths);
  }

  uint32_t Decode(BitReader& bits) const {
    uint16_t entry = table_[bits.Peek(maxLength_)];
    if (entry == 0) {
      // Zero bits padded past the end may look undefined: report the real cause.
      if (!bits.Has(maxLength_)) throw EFatalUnzipError(zip_text::kPrematureEnd);
      throw EBadCompressedData("Imploded data has an undefined code");
    }
    bits.Skip(entry >> 8);
    return entry & 0xFF;
  }

 private:
  void Build(const std::vector<uint8_t>& lengths) {
    std::vector<size_t> order(lengths.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
    maxLength_ = *std::max_element(lengths.begin(), lengths.end());
    table_.assign(size_t{1} << maxLength_, 0);

    // Codes are handed out from the longest length to the shortest, as 16-bit left-aligned values.
    uint32_t code = 0;
    uint32_t increment = 0;
    unsigned lastLength = 0;
    for (size_t k = order.size(); k-- > 0;) {
      size_t value = order[k];
      unsigned length = lengths[value];
      code += increment;
      if (length != lastLength) {
        lastLength = length;
        increment = uint32_t{1} << (kMaxCodeLength - length);
      }
      if (code > 0xFFFF) throw EBadCompressedData("Imploded data has an over-full code table");
      // The stream is read least-significant bit first: reverse the code's leading bits.
      uint32_t reversed = 0;
      for (unsigned b = 0; b < length; ++b) reversed |= ((code >> (kMaxCodeLength - 1 - b)) & 1u) << b;
      uint16_t entry = static_cast<uint16_t>(value | (length << 8));
      for (uint32_t fill = reversed; fill < table_.size(); fill += uint32_t{1} << length) {
        if (table_[fill] != 0) throw EBadCompressedData("Imploded data has an ambiguous code table");
        table_[fill] = entry;
      }
    }
  }

  std::vector<uint16_t> table_;  // value | length << 8; 0 where no code fits
  unsigned maxLength_ = 0;
};

}  // namespace

void Explode(ByteSource& in, ByteSink& out, uint64_t uncompressedSize, uint16_t flags) {
  if (uncompressedSize == 0) return;
  const bool bigWindow = (flags & 0x02) != 0;
  const bool literalTree = (flags & 0x04) != 0;
  const unsigned lowDistanceBits = bigWindow ? 7 : 6;
  const uint32_t minMatch = literalTree ? 3 : 2;

  BitReader bits(in);
  std::vector<ShannonFanoTree> literals;
  if (literalTree) literals.emplace_back(bits, 256);
  ShannonFanoTree lengths(bits, 64);
  ShannonFanoTree distances(bits, 64);

  OutputWindow output(out, uncompressedSize);
  while (!output.Done()) {
    if (bits.Bits(1) == 1) {
      uint32_t byte = literalTree ? literals.front().Decode(bits) : bits.Bits(8);
      output.Put(static_cast<uint8_t>(byte));
      continue;
    }
    uint32_t low = bits.Bits(lowDistanceBits);
    uint32_t distance = (distances.Decode(bits) << lowDistanceBits) | low;
    uint32_t length = lengths.Decode(bits);
    if (length == 63) length += bits.Bits(8);
    output.Copy(distance + 1, length + minMatch);
  }
  output.Flush();
}

}  // namespace kvelv
