#pragma once
// Raw deflate of one large entry on several threads. The input is cut into chunks; each chunk is
// compressed on its own, primed with the last 32 KiB of the chunk before it as dictionary, and
// ends with a sync flush (the last one with the end of the stream). Concatenated in order the
// pieces form one valid raw deflate stream that any inflater reads, a fraction of a percent
// larger than a single stream at the same level.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "zip/EntryCompressor.h"

namespace kvelv {

// With chunks of at least 2 MiB the per-chunk cost (sync marker, one more block head) stays
// inside the slack of DeflateBound, so the writer's Zip64 decision holds for this output too.
inline constexpr size_t kParallelDeflateChunk = size_t{2} << 20;

// Compressor threads used by default: the machine's hardware threads, at least 1, at most 16.
unsigned DeflateThreads();

namespace parallel_deflate {
struct Chunk;
class Deflater;
}  // namespace parallel_deflate

// Deflates entries one after the other, keeping its chunk buffers and the single-stream deflate
// state from one entry to the next: packing many small files would otherwise spend its time
// allocating and clearing fresh memory. Each thread that packs uses a deflater of its own, owned
// by whoever runs the thread; the compressor threads of a large entry live only for that entry.
class ParallelDeflater {
 public:
  ParallelDeflater() noexcept;
  ~ParallelDeflater();
  ParallelDeflater(const ParallelDeflater&) = delete;
  ParallelDeflater& operator=(const ParallelDeflater&) = delete;

  // Deflates everything `read` yields at `level` (1-9) into one raw deflate stream. `read` and `write`
  // are called on the calling thread only, in order; an exception from either stops the workers
  // and passes through. A zlib failure throws EZCompressionError("error"). Input that fits one
  // chunk is compressed on the calling thread as a single stream. At most 2 * threads + 2 chunks
  // (input and output, about 2 * `chunkSize` bytes each) exist at any time.
  void Deflate(int level, const SourceReader& read, const ArchiveWriter& write, unsigned threads = DeflateThreads(),
               size_t chunkSize = kParallelDeflateChunk);
  // Called on the calling thread before Deflate waits for a chunk and every 50 ms while it waits,
  // so that a cancel request is seen (it may throw, which ends Deflate as a read error would).
  void SetCheckWhileWaiting(std::function<void()> check) { check_ = std::move(check); }

 private:
  using Chunk = parallel_deflate::Chunk;
  using Deflater = parallel_deflate::Deflater;
  struct ReturnChunks;

  std::unique_ptr<Chunk> TakeChunk();
  void GiveChunk(std::unique_ptr<Chunk> chunk);
  Deflater& SingleStream(int level);

  static constexpr size_t kKeep = 2;  // spare chunks kept from one entry to the next
  std::vector<std::unique_ptr<Chunk>> spare_;
  std::unique_ptr<Deflater> deflater_;  // the single-stream state, at level_
  int level_ = -1;
  std::function<void()> check_;
};

// One entry with a deflater of its own.
void ParallelDeflateEntryData(int level, const SourceReader& read, const ArchiveWriter& write,
                              unsigned threads = DeflateThreads(), size_t chunkSize = kParallelDeflateChunk);

}  // namespace kvelv
