#include "zip/codec/Unreduce.h"

#include <array>
#include <bit>
#include <stdexcept>

#include "zip/codec/BitReader.h"
#include "zip/codec/OutputWindow.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr uint8_t kDle = 144;

struct FollowerSet {
  uint8_t count = 0;
  std::array<uint8_t, 64> bytes{};
};

// Bits of an index into a set of `count` elements; a one-element set still spends one bit.
unsigned IndexBits(unsigned count) {
  unsigned bits = static_cast<unsigned>(std::bit_width(count - 1));
  return bits == 0 ? 1 : bits;
}

}  // namespace

void Unreduce(ByteSource& in, ByteSink& out, uint64_t uncompressedSize, int factor) {
  if (factor < 1 || factor > 4) throw std::invalid_argument("reduction factor out of range");
  if (uncompressedSize == 0) return;
  BitReader bits(in);
  std::array<FollowerSet, 256> sets;
  for (int i = 255; i >= 0; --i) {
    FollowerSet& set = sets[static_cast<size_t>(i)];
    set.count = static_cast<uint8_t>(bits.Bits(6));
    for (unsigned j = 0; j < set.count; ++j) set.bytes[j] = static_cast<uint8_t>(bits.Bits(8));
  }

  OutputWindow output(out, uncompressedSize);
  const uint32_t mask = 0xFFu >> factor;
  enum class State { Plain, AfterDle, ExtraLength, Distance } state = State::Plain;
  uint8_t last = 0;
  uint32_t lead = 0;    // the byte after DLE: length bits and the high distance bits
  uint32_t length = 0;

  while (!output.Done()) {
    const FollowerSet& set = sets[last];
    uint8_t byte;
    if (set.count == 0 || bits.Bits(1) == 1) {
      byte = static_cast<uint8_t>(bits.Bits(8));
    } else {
      uint32_t index = bits.Bits(IndexBits(set.count));
      if (index >= set.count) throw EBadCompressedData("Reduced data indexes past its follower set");
      byte = set.bytes[index];
    }
    last = byte;

    switch (state) {
      case State::Plain:
        if (byte == kDle) {
          state = State::AfterDle;
        } else {
          output.Put(byte);
        }
        break;
      case State::AfterDle:
        if (byte == 0) {
          output.Put(kDle);
          state = State::Plain;
        } else {
          lead = byte;
          length = byte & mask;
          state = length == mask ? State::ExtraLength : State::Distance;
        }
        break;
      case State::ExtraLength:
        length += byte;
        state = State::Distance;
        break;
      case State::Distance: {
        uint32_t distance = (lead >> (8 - factor)) * 256 + byte + 1;
        output.Copy(distance, length + 3);
        state = State::Plain;
        break;
      }
    }
  }
  output.Flush();
}

}  // namespace kvelv
