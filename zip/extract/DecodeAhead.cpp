#include "zip/extract/DecodeAhead.h"

#include <algorithm>
#include <cstring>

#include "zip/common/Crc32.h"
#include "zip/extract/EntryStreams.h"
#include "zip/extract/StagingFolder.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

// Decoded bytes up to the declared size, checked as the pass's output step checks them. Offers
// no room of its own, so decoders write the blocks the pass would see.
class DecodedBytes : public ByteSink {
 public:
  explicit DecodedBytes(DecodedEntry& entry, uint64_t declared) : entry_(entry), declared_(declared) {
    entry_.data.reset(new uint8_t[std::max<uint64_t>(declared, 1)]);
  }
  void Write(const uint8_t* data, size_t count) override {
    CheckDeclaredSize(entry_.size, count, declared_);
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
                         const std::vector<const ZipHeaderInfo*>& entries, unsigned threads, AheadFiles files)
    : archive_(std::move(archive)), files_(std::move(files)) {
  if (!archive_) return;
  jobs_.resize(entries.size());
  std::vector<bool> wanted(entries.size(), false);
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipHeaderInfo* entry = entries[i];
    if (entry == nullptr || !Suits(*entry)) continue;
    wanted[i] = true;
    jobs_[i] = Job{entry->RelativeOffset(), entry->CompressedSize(), entry->UncompressedSize(),
                   entry->CompressionMethod(), entry->Flag(), entry->DateTime(), entry->ExternalAttributes()};
  }
  files_.write.resize(entries.size(), false);
  lookahead_ = std::make_unique<Lookahead<DecodedEntry, EntryDecoder>>(
      std::move(wanted), [this](size_t index, EntryDecoder& decoder) { return Decode(index, jobs_[index], decoder); },
      [](const DecodedEntry& entry) { return entry.data ? entry.size : 0; }, threads);
}

std::optional<DecodedEntry> DecodeAhead::Take(size_t index) {
  if (!lookahead_) return std::nullopt;
  return lookahead_->Take(index);
}

std::optional<DecodedEntry> DecodeAhead::Decode(size_t index, const Job& job, EntryDecoder& decoder) const {
  DecodedEntry entry;
  try {
    try {
      // The pass's own steps on a stream of this worker's: the same reads, the same errors.
      BufferedFileStream archive(kStreamBufferSize);
      archive.OpenSource(archive_, std::string());
      SeekToEntryData(archive, job.offset);
      EntryDataSource source(archive, job.compressedSize);
      DecodedBytes sink(entry, job.uncompressedSize);
      decoder.Decode(job.method, job.flag, source, sink, job.uncompressedSize);
    } catch (const EZipException&) {
      entry.error = std::current_exception();
    }
    entry.crc = ComputeCrc32(entry.data.get(), entry.size);
    if (!entry.error && files_.staging != nullptr && files_.write[index]) {
      entry.stagedName = WriteStaged(index, job, entry);
      if (!entry.stagedName.empty()) entry.data.reset();
    }
  } catch (...) {
    return std::nullopt;  // out of memory and the like: the pass meets it again and reports it
  }
  return entry;
}

std::string DecodeAhead::WriteStaged(size_t index, const Job& job, const DecodedEntry& entry) const {
  std::string name;
  std::error_code ec;
  platform::File file = files_.staging->NewFile(index, name, ec);
  if (!file.IsOpen()) return {};
  const auto size = static_cast<int64_t>(entry.size);
  bool ok = size == 0 || file.Write(entry.data.get(), size) == size;
  if (ok) {
    StagingFolder::Stamp(file, job.dateTime, files_.retainAttributes, job.attributes);
    ok = !files_.flushOnClose || file.Sync();
  }
  ok = file.Close() && ok;
  if (ok) return name;
  files_.staging->Drop(name);
  return {};
}

}  // namespace kvelv
