#pragma once
// The ZIP CRC-32 (reflected polynomial 0xEDB88320), the program's own table-driven routine.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kvelv {

inline constexpr uint32_t kCrc32Start = 0xFFFFFFFF;

// Runs the raw register over `n` bytes: start with kCrc32Start, complement the final register
// to get the CRC-32. Works 16 bytes per step (slicing by 16); same result as the byte-at-a-time
// routine below for any split of the input.
uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t n);

// The plain one-table, one-byte-per-step routine: the reference the fast one is checked against.
uint32_t Crc32UpdateBytewise(uint32_t reg, const uint8_t* data, size_t n);

// The finished CRC-32 of a whole buffer (0 for no bytes).
uint32_t ComputeCrc32(const uint8_t* data, size_t n);
uint32_t ComputeCrc32(std::string_view bytes);

}  // namespace kvelv
