#include "zip/common/Crc32.h"

#include <array>

namespace kvelv {

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 16>;

// tables[0] is the classic byte table; tables[k][b] is the register change of byte b followed by
// k zero bytes, so 16 lookups advance the register over 16 bytes at once.
constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (size_t k = 1; k < t.size(); ++k) {
    for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  }
  return t;
}

constexpr Tables kTables = MakeTables();

// Little-endian load whatever the host order; compilers turn it into one move.
inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32UpdateBytewise(uint32_t reg, const uint8_t* data, size_t n) {
  const auto& table = kTables[0];
  for (size_t i = 0; i < n; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t n) {
  const auto& t = kTables;
  while (n >= 16) {
    const uint32_t a = Load32(data) ^ reg;
    const uint32_t b = Load32(data + 4);
    const uint32_t c = Load32(data + 8);
    const uint32_t d = Load32(data + 12);
    reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    data += 16;
    n -= 16;
  }
  return Crc32UpdateBytewise(reg, data, n);
}

uint32_t ComputeCrc32(const uint8_t* data, size_t n) {
  return ~Crc32Update(kCrc32Start, data, n);
}

uint32_t ComputeCrc32(std::string_view bytes) {
  return ComputeCrc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace kvelv
