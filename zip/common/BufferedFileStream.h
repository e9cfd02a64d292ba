#pragma once
// A platform::File behind one read/write buffer (8192 bytes by default), or an ArchiveSource
// behind a read buffer. Every archive, source and output file of the archive classes goes
// through it.
//
// Failure policy: Write() reports how many bytes it accepted; fewer than asked means the file
// could not take them (disk full, I/O error). Because bytes are buffered, a failure may show only
// at a later Write(), Seek(), Flush() or Close(); once a write failed, Failed() stays true and
// every later Write() accepts nothing. WriteAll() and the WriteU16/U32/U64 helpers throw
// ENotEnoughRoom("Not enough room to write archive") instead: archive headers, the central
// directory and the end records use them. Close() returns false when any write or the final
// flush failed: the writer must check it. The destructor flushes too but cannot report.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/File.h"
#include "zip/ArchiveSource.h"
#include "zip/ArchiveTransform.h"
#include "zip/common/ZipTypes.h"

namespace kvelv {

class BufferedFileStream {
 public:
  explicit BufferedFileStream(size_t bufferSize = kStreamBufferSize);
  ~BufferedFileStream();
  BufferedFileStream(const BufferedFileStream&) = delete;
  BufferedFileStream& operator=(const BufferedFileStream&) = delete;

  // Opens `path`; false with `ec` set when the file cannot be opened (the stream stays closed).
  bool Open(const std::string& path, platform::OpenMode mode, std::error_code& ec);
  // Opens like Open() but throws EFOpenError "Cannot open file "<path>". <system text>".
  void OpenOrThrow(const std::string& path, platform::OpenMode mode);
  // Takes over a file opened elsewhere (for reading and writing), positioned at its start.
  void Adopt(platform::File file, const std::string& path);
  // Reads `source` (named `name` in messages); writes are refused.
  void OpenSource(std::shared_ptr<const ArchiveSource> source, const std::string& name);
  bool IsOpen() const { return file_.IsOpen() || source_ != nullptr; }
  // From now on every byte written to the file goes through `transform` at its position, and
  // every byte read from it comes back through it (null: none). Set it on a file opened empty,
  // before the first write. Opening another file drops it.
  void SetTransform(std::shared_ptr<const ArchiveTransform> transform) { transform_ = std::move(transform); }
  // What this stream wrote to its file, read back with positional reads (through the transform)
  // that may run on another thread while the stream goes on writing: only bytes before
  // FileHoldsBefore() that will not be written again may be read so. Valid while the stream
  // keeps this file open.
  std::shared_ptr<const ArchiveSource> WrittenBytes() const;
  // Every byte written before this position is in the file, none of them waits in the buffer.
  int64_t FileHoldsBefore() const { return writing_ && bufferFill_ > 0 ? bufferStart_ : INT64_MAX; }
  // The source being read (null for a file opened by path).
  const std::shared_ptr<const ArchiveSource>& Source() const { return source_; }
  // The file itself, for what the stream does not do (times, attributes); Flush() first.
  platform::File& Handle() { return file_; }
  const std::string& Path() const { return path_; }

  // Up to `count` bytes; fewer at the end of the file or on a read error (never negative).
  int64_t Read(void* buffer, int64_t count);
  // True when exactly `count` bytes were read.
  bool ReadExact(void* buffer, int64_t count) { return Read(buffer, count) == count; }

  // Bytes accepted; fewer than `count` means a failure (see the policy above).
  int64_t Write(const void* data, int64_t count);
  // Writes all bytes or throws ENotEnoughRoom.
  void WriteAll(const void* data, int64_t count);
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteU64(uint64_t v);

  // Moves to an absolute position; false on failure. Pending writes are flushed first, unless
  // the position lies within them: later writes then overwrite them in the buffer.
  bool Seek(int64_t position);
  int64_t Position() const { return position_; }
  // Size of the file including bytes still in the buffer; -1 on error.
  int64_t Size();
  // Sets the file length (pending writes flushed first); the position is not changed.
  bool SetSize(int64_t size);

  // Writes pending bytes; false when they could not all be written.
  bool Flush();
  // Flush() and then forces the data to stable storage.
  bool Sync();
  // Flushes and closes; false when any write since opening, the flush or the close failed.
  bool Close();
  bool Failed() const { return failed_; }
  const std::error_code& LastError() const { return lastError_; }

 private:
  // The state of a stream just opened on `name`: at its start, nothing buffered, no transform.
  void Restart(const std::string& name);
  bool FlushWrite();
  // Writes `count` bytes at position_ through the transform; false on failure.
  bool WriteRaw(const uint8_t* data, int64_t count, int64_t& done);
  // Reads at position_ from the file or the source, past the buffer; -1 on error.
  int64_t ReadRaw(void* buffer, int64_t count);
  void DropReadBuffer();

  platform::File file_;
  std::shared_ptr<const ArchiveSource> source_;
  std::shared_ptr<const ArchiveTransform> transform_;
  std::vector<uint8_t> transformed_;  // the transform's output for writes that bypass the buffer
  std::string path_;
  std::vector<uint8_t> buffer_;
  int64_t position_ = 0;     // logical position of the stream
  int64_t bufferStart_ = 0;  // file position of buffer_[0]
  size_t bufferFill_ = 0;    // valid bytes in the buffer (read mode) or pending bytes (write mode)
  bool writing_ = false;     // buffer holds pending writes rather than read-ahead
  bool failed_ = false;
  std::error_code lastError_;
};

}  // namespace kvelv
