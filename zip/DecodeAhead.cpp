#include "zip/DecodeAhead.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "zip/LittleEndian.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

const char kPrematureEnd[] = "Premature end of file reached";
constexpr size_t kBlock = 32768;

// The entry's packed bytes as the pass reads them from the archive: blocks of at most 32768
// bytes, and "premature end" where the archive ends before the declared compressed size.
class PackedBytes : public ByteSource {
 public:
  PackedBytes(const uint8_t* data, size_t available, uint64_t declared)
      : data_(data), available_(available), remaining_(declared) {}
  size_t Read(uint8_t* buffer, size_t max) override {
    const size_t want = static_cast<size_t>(std::min<uint64_t>({max, remaining_, kBlock}));
    if (want == 0) return 0;
    if (want > available_ - position_) throw EFatalUnzipError(kPrematureEnd);
    std::memcpy(buffer, data_ + position_, want);
    position_ += want;
    remaining_ -= want;
    return want;
  }

 private:
  const uint8_t* data_;
  size_t available_;
  size_t position_ = 0;
  uint64_t remaining_;
};

// Decoded bytes up to the declared size; a block beyond it raises what the pass's output step
// raises. Offers no room of its own, so decoders write the blocks the pass would see.
class DecodedBytes : public ByteSink {
 public:
  explicit DecodedBytes(DecodedEntry& entry, uint64_t declared) : entry_(entry), declared_(declared) {
    entry_.data.reset(new uint8_t[std::max<uint64_t>(declared, 1)]);
  }
  void Write(const uint8_t* data, size_t count) override {
    if (count > declared_ - entry_.size) throw EBiggerThanUncompressed("File is larger than uncompressed size!");
    std::memcpy(entry_.data.get() + entry_.size, data, count);
    entry_.size += count;
  }

 private:
  DecodedEntry& entry_;
  uint64_t declared_;
};

}  // namespace

bool DecodeAhead::Suits(const ZipHeaderInfo& entry) {
  return !entry.FileName().empty() && !entry.IsEncrypted() && IsSupportedMethod(entry.CompressionMethod()) &&
         entry.UncompressedSize() <= kMaxEntrySize && entry.CompressedSize() <= kMaxEntrySize;
}

DecodeAhead::DecodeAhead(std::shared_ptr<const ArchiveSource> archive,
                         const std::vector<const ZipHeaderInfo*>& entries, unsigned threads)
    : archive_(std::move(archive)) {
  if (!archive_) return;
  jobs_.resize(entries.size());
  std::vector<bool> wanted(entries.size(), false);
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipHeaderInfo* entry = entries[i];
    if (entry == nullptr || !Suits(*entry)) continue;
    wanted[i] = true;
    jobs_[i] = Job{entry->RelativeOffset(), entry->CompressedSize(), entry->UncompressedSize(),
                   entry->CompressionMethod(), entry->Flag()};
  }
  lookahead_ = std::make_unique<Lookahead<DecodedEntry, EntryDecoder>>(
      std::move(wanted), [this](size_t index, EntryDecoder& decoder) { return Decode(jobs_[index], decoder); },
      [](const DecodedEntry& entry) { return entry.size; }, threads);
}

std::optional<DecodedEntry> DecodeAhead::Take(size_t index) {
  if (!lookahead_) return std::nullopt;
  return lookahead_->Take(index);
}

std::optional<DecodedEntry> DecodeAhead::Decode(const Job& job, EntryDecoder& decoder) const {
  DecodedEntry entry;
  try {
    try {
      // Where the data starts, from the local header's name and extra field lengths.
      std::array<uint8_t, 30> header{};
      if (job.offset > static_cast<uint64_t>(INT64_MAX) - 0x30000 ||
          archive_->ReadAt(static_cast<int64_t>(job.offset), header.data(), 30) != 30) {
        throw EFatalUnzipError(kPrematureEnd);
      }
      const uint64_t start = job.offset + 30 + GetU16(&header[26]) + GetU16(&header[28]);
      std::unique_ptr<uint8_t[]> packed(new uint8_t[std::max<uint64_t>(job.compressedSize, 1)]);
      const int64_t got = archive_->ReadAt(static_cast<int64_t>(start), packed.get(),
                                          static_cast<int64_t>(job.compressedSize));
      PackedBytes source(packed.get(), got > 0 ? static_cast<size_t>(got) : 0, job.compressedSize);
      DecodedBytes sink(entry, job.uncompressedSize);
      decoder.Decode(job.method, job.flag, source, sink, job.uncompressedSize);
    } catch (const EZipException&) {
      entry.error = std::current_exception();
    }
  } catch (...) {
    return std::nullopt;  // out of memory and the like: the pass meets it again and reports it
  }
  return entry;
}

}  // namespace kvelv
