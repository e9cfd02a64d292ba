#pragma once
// The decoder harnesses take their parameters from the first bytes of the input.
#include <cstddef>
#include <cstdint>

namespace kvelv::fuzz {

// Declared size of the decoded data: the first three bytes, little-endian, at most 4 MiB.
inline uint64_t TakeSize(const uint8_t*& data, size_t& size) {
  if (size < 3) return 0;
  uint64_t value = data[0] | (data[1] << 8) | ((data[2] & 0x3F) << 16);
  data += 3;
  size -= 3;
  return value;
}

inline uint8_t TakeByte(const uint8_t*& data, size_t& size) {
  if (size < 1) return 0;
  --size;
  return *data++;
}

}  // namespace kvelv::fuzz
