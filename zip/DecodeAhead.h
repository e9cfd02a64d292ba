#pragma once
// Decodes the small entries an extraction or test pass reaches next, on worker threads, while the
// pass thread creates and writes the files before them. Each worker reads the entry's bytes
// through its own positioned reads of the archive and decodes them into memory exactly as the
// pass would; the pass then hands the bytes to its output step (size check, CRC, file, progress)
// and raises what decoding raised, at the same point. Entries not decoded ahead the pass decodes
// itself.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zip/ArchiveSource.h"
#include "zip/EntryDecoder.h"
#include "zip/Concurrency.h"
#include "zip/ZipHeaderInfo.h"

namespace kvelv {

struct DecodedEntry {
  std::unique_ptr<uint8_t[]> data;  // decoded bytes, never more than the declared size
  size_t size = 0;
  std::exception_ptr error;  // raised by decoding after `size` bytes; null when it ended well
};

class DecodeAhead {
 public:
  // Entries up to this declared size (packed and unpacked) are decoded ahead; larger ones stream
  // through the pass, whose output step then runs on a thread of its own.
  static constexpr uint64_t kMaxEntrySize = uint64_t{1} << 20;

  // Whether `entry` is one to decode ahead: a file entry, not encrypted, of a known method, small.
  static bool Suits(const ZipHeaderInfo& entry);

  // `entries[i]` is the entry the pass reaches as item i, or null for one it handles itself; the
  // fields needed are copied here. Workers read `archive` at their own positions.
  DecodeAhead(std::shared_ptr<const ArchiveSource> archive, const std::vector<const ZipHeaderInfo*>& entries,
              unsigned threads = HardwareThreads());

  // The decoded entry of item `index` (waiting for a worker to finish it), or nullopt when the
  // pass must decode it itself. Items are taken in increasing order.
  std::optional<DecodedEntry> Take(size_t index);

 private:
  struct Job {
    uint64_t offset = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint16_t method = 0;
    uint16_t flag = 0;
  };

  std::optional<DecodedEntry> Decode(const Job& job, EntryDecoder& decoder) const;

  std::shared_ptr<const ArchiveSource> archive_;
  std::vector<Job> jobs_;
  std::unique_ptr<Lookahead<DecodedEntry, EntryDecoder>> lookahead_;  // last: stopped before the members above go
};

}  // namespace kvelv
