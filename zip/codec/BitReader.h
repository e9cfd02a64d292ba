#pragma once
// Bit input for the legacy decoders: bits come least-significant first from each byte, as the
// shrink, reduce and implode formats store them. Never reads past what the source hands out.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/common/ByteStreams.h"

namespace kvelv {

class BitReader {
 public:
  explicit BitReader(ByteSource& source);

  // Takes the next `count` bits (0-16). Raises EFatalUnzipError "Premature end of file reached"
  // when the compressed data ends first.
  uint32_t Bits(unsigned count);
  // The next `count` bits (0-16) without taking them; bits past the end of the data read as zero,
  // so a table lookup near the end works and the following Skip decides whether data is missing.
  uint32_t Peek(unsigned count);
  // True when `count` (0-16) more bits of real data are there.
  bool Has(unsigned count);
  // Drops `count` bits (0-16) that Peek has shown; raises like Bits when they are not all there.
  void Skip(unsigned count);

 private:
  void Fill();

  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool exhausted_ = false;
  uint64_t bits_ = 0;     // pending bits, next one in bit 0
  unsigned bitCount_ = 0; // how many of them are real data
};

}  // namespace kvelv
