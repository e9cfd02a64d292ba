#pragma once
// Helpers of the record tests: bytes spelled out, little-endian fields written and read back, a record
// written to a fresh stream, a DOS stamp from its parts, an entry name as kept in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <system_error>

#include "tests/support/TestSupport.h"
#include "zip/common/BufferedFileStream.h"
#include "zip/common/LittleEndian.h"
#include "zip/common/ZipText.h"

namespace kvelv::test::record_bytes {

// An entry name as the library keeps it in memory: "/" written as the system's separator.
inline std::string Native(std::string name) {
  for (char& c : name) {
    if (c == '/') c = kEntrySeparator;
  }
  return name;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// Little-endian fields written out, for records spelled out field by field.
inline std::string Le16(uint16_t v) {
  std::string s(2, '\0');
  PutU16(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}
inline std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  PutU32(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}
inline std::string Le64(uint64_t v) {
  std::string s(8, '\0');
  PutU64(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}

inline uint16_t U16(const std::string& b, size_t at) { return GetU16(reinterpret_cast<const uint8_t*>(b.data()) + at); }
inline uint32_t U32(const std::string& b, size_t at) { return GetU32(reinterpret_cast<const uint8_t*>(b.data()) + at); }
inline uint64_t U64(const std::string& b, size_t at) { return GetU64(reinterpret_cast<const uint8_t*>(b.data()) + at); }

// Runs `write` on a fresh stream positioned at `start` and returns the bytes after `start`.
template <typename Fn>
std::string Written(Fn write, int64_t start = 0) {
  TempDir dir;
  const std::string path = dir.Join("out.bin");
  BufferedFileStream out;
  std::error_code ec;
  EXPECT_TRUE(out.Open(path, platform::OpenMode::CreateAlways, ec)) << ec.message();
  if (start > 0) {
    const std::string pad(static_cast<size_t>(start), '\0');
    out.WriteAll(pad.data(), start);
  }
  write(out);
  EXPECT_TRUE(out.Close());
  return ReadFile(path).substr(static_cast<size_t>(start));
}

// The DOS date and time of the given parts (`second2`: seconds / 2), packed without checks.
inline uint32_t Dos(int year, int month, int day, int hour, int minute, int second2) {
  const uint32_t time = static_cast<uint32_t>(hour * 2048 + minute * 32 + second2);
  const uint32_t date = static_cast<uint32_t>((year - 1980) * 512 + month * 32 + day);
  return date << 16 | time;
}

}  // namespace kvelv::test::record_bytes
