#pragma once
// Helpers for the decoder and extractor tests: SHA-256 in hex, a minimal central-directory walker
// (independent of the library's reader, so a reader fault cannot hide a decoder fault), and
// in-memory byte sources and sinks.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ArchiveMaker.h"
#include "tests/support/RawDeflate.h"
#include "zip/common/ByteStreams.h"

namespace kvelv::test {

// Lower-case hex SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);

// The entry data the archive writer makes of `data` at level 6: ParallelDeflateEntryData's
// stream (a single stream up to one chunk), or one zlib stream when `parallel` is false.
std::string WriterDeflate(const std::string& data, bool parallel = true);

struct RawEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  std::string data;  // the compressed bytes, located through the local header
};

// Entries of a one-disk archive without Zip64; throws std::runtime_error on malformed input.
std::vector<RawEntry> ReadRawEntries(const std::string& archive);

// The legacy-method archives of the shared test data (absent on some machines: tests skip), and
// the rows of their MANIFEST.tsv, one an entry; none when the manifest is missing.
std::string LegacyArchiveDir();
struct ManifestRow {
  std::string archive, entry, sha256;
  int method = 0;
  uint64_t size = 0;
};
std::vector<ManifestRow> ReadLegacyManifest();

// Other ZIP tools on `archive`: unzip -t and 7z t test every entry, and Python's zipfile tests it
// and lists "name sha256" lines in archive order, which must be `listing`. Returns what went
// wrong ("" when all agree); a tool that is not installed is a failure too.
std::string PeersDisagree(const std::string& archive, const std::string& listing);

// Hands out `data` at most `chunk` bytes per Read.
class MemorySource : public ByteSource {
 public:
  MemorySource(std::string_view data, size_t chunk) : data_(data), chunk_(chunk) {}
  size_t Read(uint8_t* buffer, size_t max) override;
  bool Rewind() override {
    pos_ = 0;
    return true;
  }
  size_t Consumed() const { return pos_; }

 private:
  std::string_view data_;
  size_t chunk_;
  size_t pos_ = 0;
};

// Collects what it is given; fails the test on a block over 32768 bytes and throws once more than
// `limit` bytes arrive (so a runaway decoder stops).
class StringSink : public ByteSink {
 public:
  explicit StringSink(uint64_t limit = UINT64_MAX) : limit_(limit) {}
  void Write(const uint8_t* data, size_t count) override;
  std::string bytes;
  size_t largestBlock = 0;

 private:
  uint64_t limit_;
};

}  // namespace kvelv::test
