#pragma once
// Byte source and sink that the decoders read from and write to, so that each decoder can be
// tested in memory with any chunking.
#include <cstddef>
#include <cstdint>

namespace kvelv {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `max` bytes of compressed input; 0 only when the entry's compressed data is used up.
  virtual size_t Read(uint8_t* buffer, size_t max) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // One decoded block (at most 32768 bytes). May throw (size check, short write).
  virtual void Write(const uint8_t* data, size_t count) = 0;
};

}  // namespace kvelv
