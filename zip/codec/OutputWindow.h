#pragma once
// Decoded output of the legacy decoders: a 32 KiB ring that doubles as the back-reference window
// (reduce needs 4 KiB, implode 8 KiB) and goes to the sink in blocks of at most 32768 bytes.
// It stops at the entry's uncompressed size, cutting a final copy short.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/common/ByteStreams.h"

namespace kvelv {

class OutputWindow {
 public:
  static constexpr size_t kSize = 32768;

  OutputWindow(ByteSink& sink, uint64_t total);

  bool Done() const { return produced_ >= total_; }
  // Appends one byte unless the size is already reached.
  void Put(uint8_t byte);
  // Copies `length` bytes from `distance` (1-kSize) back; bytes before the start read as zero.
  void Copy(uint32_t distance, uint32_t length);
  // Hands what is not yet written to the sink.
  void Flush();

 private:
  ByteSink& sink_;
  std::vector<uint8_t> ring_;  // zero-filled, so references before the start give zeros
  size_t pos_ = 0;
  size_t flushed_ = 0;
  uint64_t produced_ = 0;
  uint64_t total_;
};

}  // namespace kvelv
