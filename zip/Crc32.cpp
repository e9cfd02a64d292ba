#include "zip/Crc32.h"

#include <array>

namespace kvelv {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) reg = kTable[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t ComputeCrc32(const uint8_t* data, size_t n) {
  return ~Crc32Update(kCrc32Start, data, n);
}

uint32_t ComputeCrc32(std::string_view bytes) {
  return ComputeCrc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace kvelv
