#pragma once
// A transform laid over the bytes of an archive file by their position, so that the file on disk
// never holds what the writer wrote: the writer passes every byte through it on the way out, and
// whoever reads the file back passes the bytes through it again. It must be its own inverse at
// every position (a keystream XORed over the file: counter mode), so one operation serves
// writing and reading, and the writer may seek back and rewrite any part. The encrypt job gives
// its temporary archive one over a key that exists only in memory
// (CryptComponent::NewScratchKeystream).
#include <cstddef>
#include <cstdint>

namespace kvelv {

class ArchiveTransform {
 public:
  virtual ~ArchiveTransform() = default;
  // Transforms the `count` bytes at `in`, which stand at `position` of the file, into `out`
  // (`out` may be `in`). False when it cannot (the crypto library failed). Safe to call from
  // several threads at once.
  [[nodiscard]] virtual bool Apply(int64_t position, const uint8_t* in, uint8_t* out, size_t count) const = 0;
};

}  // namespace kvelv
