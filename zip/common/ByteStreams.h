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
  // Back to the first byte, where the source can; false when it cannot.
  virtual bool Rewind() { return false; }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // One decoded block (at most 32768 bytes). May throw (size check, short write).
  virtual void Write(const uint8_t* data, size_t count) = 0;
  // Optional: memory of the sink a decoder may decode straight into and then pass to Write(),
  // block by block from its start, which saves a copy; `size` bytes long, valid until the next
  // Write(). The default has none (nullptr).
  virtual uint8_t* Room(size_t& size) {
    size = 0;
    return nullptr;
  }
};

}  // namespace kvelv
