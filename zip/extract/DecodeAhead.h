#pragma once
// Decodes the small entries an extraction or test pass reaches next, on worker threads, while the
// pass thread handles the entries before them. Each worker reads the entry's bytes through its
// own positioned reads of the archive, decodes them into memory exactly as the pass would and
// sums them. When the pass stages files, the worker also writes a soundly decoded entry into its
// staged file, so creating and writing the many small files is spread over the workers. The pass
// then runs its output step on what it takes (size check, file, progress), checks the CRC and
// raises what decoding raised, at the same point. Entries not decoded ahead, and entries whose
// staged file a worker could not write, the pass handles itself.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zip/ArchiveSource.h"
#include "zip/codec/EntryDecoder.h"
#include "zip/Concurrency.h"
#include "zip/records/ZipHeaderInfo.h"

namespace kvelv {

class StagingFolder;

struct DecodedEntry {
  std::unique_ptr<uint8_t[]> data;  // decoded bytes, never more than the declared size; null
                                    // once they are in the staged file
  size_t size = 0;
  uint32_t crc = 0;          // CRC-32 of the `size` bytes
  std::exception_ptr error;  // raised by decoding after `size` bytes; null when it ended well
  std::string stagedName;    // the staged file holding the bytes, time and attributes set; "" when none
};

// Staged files the workers write for an extraction pass.
struct AheadFiles {
  StagingFolder* staging = nullptr;
  std::vector<bool> write;  // per item: the pass will write it to a file of its own
  bool retainAttributes = true;
  bool flushOnClose = false;
};

class DecodeAhead {
 public:
  // Entries up to this declared size (packed and unpacked) are decoded ahead; larger ones stream
  // through the pass, whose output step then runs on a thread of its own.
  static constexpr uint64_t kMaxEntrySize = uint64_t{1} << 20;

  // Whether `entry` is one to decode ahead: a file entry, not encrypted, of a known method, small.
  static bool Suits(const ZipHeaderInfo& entry);

  // `entries[i]` is the entry the pass reaches as item i, or null for one it handles itself; the
  // fields needed are copied here. Workers read `archive` at their own positions. With `files`,
  // entries it marks are written into the staging folder, which must outlive this object.
  DecodeAhead(std::shared_ptr<const ArchiveSource> archive, const std::vector<const ZipHeaderInfo*>& entries,
              unsigned threads = HardwareThreads(), AheadFiles files = {});

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
    uint32_t dateTime = 0;
    uint32_t attributes = 0;
  };

  std::optional<DecodedEntry> Decode(size_t index, const Job& job, EntryDecoder& decoder) const;
  // Writes the decoded bytes into item `index`'s staged file; its name, or "" when that failed
  // (nothing is left behind then).
  std::string WriteStaged(size_t index, const Job& job, const DecodedEntry& entry) const;

  std::shared_ptr<const ArchiveSource> archive_;
  std::vector<Job> jobs_;
  AheadFiles files_;
  std::unique_ptr<Lookahead<DecodedEntry, EntryDecoder>> lookahead_;  // last: stopped before the members above go
};

}  // namespace kvelv
