#pragma once
// The two ends of decoding one entry during extraction: its compressed bytes from the archive,
// and the output step that checks the size, writes, sums the CRC and reports progress.
#include <cstdint>
#include <functional>
#include <memory>

#include "zip/common/BufferedFileStream.h"
#include "zip/common/ByteStreams.h"
#include "zip/common/Crc32.h"

namespace kvelv {

// Moves `archive` to the data of the entry whose local header starts at `localHeader`, past the
// header's name and extra field (nothing else of the header is checked); EFatalUnzipError
// "Premature end of file reached" when the archive ends first.
void SeekToEntryData(BufferedFileStream& archive, uint64_t localHeader);

// The output step's size check: `count` more bytes after `written` may not pass `declared`, or
// EBiggerThanUncompressed "File is larger than uncompressed size!" is raised (so a hostile entry
// cannot write without bound).
void CheckDeclaredSize(uint64_t written, size_t count, uint64_t declared);

// Reads the archive from its current position, in blocks of at most 32768 bytes and never past
// `compressedSize`; a short read raises EFatalUnzipError "Premature end of file reached".
class EntryDataSource : public ByteSource {
 public:
  EntryDataSource(BufferedFileStream& archive, uint64_t compressedSize)
      : archive_(archive), start_(archive.Position()), size_(compressedSize), remaining_(compressedSize) {}
  size_t Read(uint8_t* buffer, size_t max) override;
  bool Rewind() override;

 private:
  BufferedFileStream& archive_;
  int64_t start_;
  uint64_t size_;
  uint64_t remaining_;
};

// Takes decoded blocks. More than `declaredSize` in all raises EBiggerThanUncompressed (so a
// hostile entry cannot write without bound); a short write to `file` raises ECantWriteUCF. With
// no file (test mode) only the size, the CRC and the progress are kept. For large entries the CRC
// and the file writes run on a second thread while the decoder goes on; the size check and the
// progress stay on the calling thread. Call Finish() before reading Crc() or closing the file.
class EntryOutput : public ByteSink {
 public:
  EntryOutput(BufferedFileStream* file, uint64_t declaredSize, std::function<void(size_t)> progress);
  ~EntryOutput() override;
  EntryOutput(const EntryOutput&) = delete;
  EntryOutput& operator=(const EntryOutput&) = delete;

  void Write(const uint8_t* data, size_t count) override;
  // Bytes decoded and summed ahead: written to the file when `data` is given (null: they are in a
  // file already), otherwise handled as Write handles them; the CRC comes from SetCrc.
  void WriteSummed(const uint8_t* data, size_t count);
  void SetCrc(uint32_t crc) { crc_ = crc ^ 0xFFFFFFFFu; }
  // Large entries: the buffer the second thread will sum and write next.
  uint8_t* Room(size_t& size) override;
  // Waits until every block written so far is summed and in the file; raises ECantWriteUCF when
  // a write failed.
  void Finish();

  uint32_t Crc() const { return crc_ ^ 0xFFFFFFFFu; }
  uint64_t Written() const { return written_; }

 private:
  class Worker;
  // Sums and writes one block; false when the file did not take it all.
  bool Consume(const uint8_t* data, size_t count);

  BufferedFileStream* file_;
  uint64_t declared_;
  uint64_t written_ = 0;
  uint32_t crc_ = kCrc32Start;
  std::function<void(size_t)> progress_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace kvelv
