#pragma once
// Picks the decoder for an entry's compression method.
#include <cstdint>
#include <memory>

#include "zip/common/ByteStreams.h"
#include "zip/codec/Inflater.h"

namespace kvelv {

// True for the methods EntryDecoder handles: 0 (stored), 1 (shrunk), 2-5 (reduced),
// 6 (imploded) and 8 (deflated).
bool IsSupportedMethod(uint16_t method);

// Copies stored data: everything `in` hands out goes to `out` in blocks of at most 32768 bytes
// (more than `uncompressedSize` is left to the sink's size check); raises EFatalUnzipError
// "Premature end of file reached" when `in` ends before `uncompressedSize` bytes came.
void CopyStored(ByteSource& in, ByteSink& out, uint64_t uncompressedSize);

// Decodes entries one after the other, keeping the inflate state from one entry to the next.
// Decoders run on the pass thread and on worker threads; each thread uses a decoder of its own,
// owned by whoever runs the thread.
class EntryDecoder {
 public:
  // Decodes one entry's data with the decoder for `method` (`flags`: general purpose bit flag).
  // Returns false, reading nothing, for a method that IsSupportedMethod rejects.
  bool Decode(uint16_t method, uint16_t flags, ByteSource& in, ByteSink& out, uint64_t uncompressedSize);

 private:
  std::unique_ptr<Inflater> inflater_;  // set up for the first deflated entry
};

// One entry with a decoder of its own.
bool DecodeEntry(uint16_t method, uint16_t flags, ByteSource& in, ByteSink& out, uint64_t uncompressedSize);

}  // namespace kvelv
