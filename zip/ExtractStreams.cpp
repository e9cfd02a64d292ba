#include "zip/ExtractStreams.h"

#include <algorithm>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {
constexpr uint64_t kBlockSize = 32768;
}

size_t EntryDataSource::Read(uint8_t* buffer, size_t max) {
  const uint64_t want = std::min<uint64_t>({max, remaining_, kBlockSize});
  if (want == 0) return 0;
  if (archive_.Read(buffer, static_cast<int64_t>(want)) != static_cast<int64_t>(want)) {
    throw EFatalUnzipError("Premature end of file reached");
  }
  remaining_ -= want;
  return static_cast<size_t>(want);
}

void EntryOutput::Write(const uint8_t* data, size_t count) {
  if (count > declared_ - written_) throw EBiggerThanUncompressed("File is larger than uncompressed size!");
  if (file_ != nullptr && file_->Write(data, static_cast<int64_t>(count)) != static_cast<int64_t>(count)) {
    throw ECantWriteUCF("Cant write uncompressed file");
  }
  crc_ = Crc32Update(crc_, data, count);
  written_ += count;
  if (progress_) progress_(count);
}

}  // namespace kvelv
