#pragma once
// Reads and deflates the small files a pack pass reaches next, on worker threads, while the pass
// thread writes the entries before them: with many small files the deflating no longer waits for
// the metadata calls and writes of each entry. The pass takes the results in item order and
// packs anything the prefetcher could not prepare (a file it cannot open, one larger than a
// deflate chunk, one that changed) itself, exactly as it would without it. A prepared entry's
// bytes are those the pass would have produced.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileStamp.h"
#include "zip/Concurrency.h"
#include "zip/codec/ParallelDeflate.h"

namespace kvelv {

struct DeflatedEntry {
  platform::FileStamp stamp;     // of the file as it was read, from opening to the end
  uint32_t crc = 0;              // CRC-32 of the file (final value)
  std::vector<uint8_t> deflated; // one raw deflate stream
};

class DeflateAhead {
 public:
  // Files up to this size are prepared; larger ones are deflated in parallel chunks by the pass.
  static constexpr int64_t kMaxFileSize = static_cast<int64_t>(kParallelDeflateChunk);

  // `wanted[i]` marks the items to prepare (files the pass deflates); `items` must outlive this.
  // `threads`, `ahead` and `heldLimit` go to the Lookahead.
  DeflateAhead(const std::vector<std::string>& items, std::vector<bool> wanted, int level,
               unsigned threads = HardwareThreads(), size_t ahead = 0,
               size_t heldLimit = Lookahead<DeflatedEntry, ParallelDeflater>::kDefaultHeldLimit);
  // Files being read when the pass ends (or is abandoned) are dropped after the read at hand.
  ~DeflateAhead();
  DeflateAhead(const DeflateAhead&) = delete;
  DeflateAhead& operator=(const DeflateAhead&) = delete;

  // The prepared entry of item `index` (waiting for a worker to finish it), or nullopt when it is
  // not wanted, could not be prepared, or the file is no longer as it was read: its stamp now,
  // `now`, differs. Items are taken in increasing order; data of items passed over is dropped.
  std::optional<DeflatedEntry> Take(size_t index, const platform::FileStamp& now);

 private:
  std::optional<DeflatedEntry> Prepare(const std::string& path, ParallelDeflater& deflater) const;

  const std::vector<std::string>& items_;
  int level_;
  std::atomic<bool> stopping_{false};
  Lookahead<DeflatedEntry, ParallelDeflater> lookahead_;  // last: its workers stop before the members above go
};

}  // namespace kvelv
