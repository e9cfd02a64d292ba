#pragma once
// Raw deflate of one large entry on several threads. The input is cut into chunks; each chunk is
// compressed on its own, primed with the last 32 KiB of the chunk before it as dictionary, and
// ends with a sync flush (the last one with the end of the stream). Concatenated in order the
// pieces form one valid raw deflate stream that any inflater reads, a fraction of a percent
// larger than a single stream at the same level.
#include <cstddef>
#include <cstdint>

#include "zip/EntryCompressor.h"

namespace kvelv {

// With chunks of at least 2 MiB the per-chunk cost (sync marker, one more block head) stays
// inside the slack of DeflateBound, so the writer's Zip64 decision holds for this output too.
inline constexpr size_t kParallelDeflateChunk = size_t{2} << 20;

// Compressor threads used by default: the machine's hardware threads, at least 1, at most 16.
unsigned DeflateThreads();

// Deflates everything `read` yields at `level` (1-9), like DeflateEntryData. `read` and `write`
// are called on the calling thread only, in order; an exception from either stops the workers
// and passes through. A zlib failure throws EZCompressionError("error"). Input that fits one
// chunk is compressed on the calling thread as a single stream. At most 2 * threads + 2 chunks
// (input and output, about 2 * `chunkSize` bytes each) exist at any time.
void ParallelDeflateEntryData(int level, const SourceReader& read, const ArchiveWriter& write,
                              unsigned threads = DeflateThreads(), size_t chunkSize = kParallelDeflateChunk);

}  // namespace kvelv
