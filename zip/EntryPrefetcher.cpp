#include "zip/EntryPrefetcher.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "zip/SourceFile.h"

namespace kvelv {

namespace {

std::vector<bool> OnePerItem(std::vector<bool> wanted, size_t items) {
  wanted.resize(items, false);
  return wanted;
}

}  // namespace

EntryPrefetcher::EntryPrefetcher(const std::vector<std::string>& items, std::vector<bool> wanted, int level,
                                 unsigned threads, size_t ahead, size_t heldLimit)
    : items_(items),
      level_(level),
      lookahead_(
          OnePerItem(std::move(wanted), items.size()),
          [this](size_t index, ParallelDeflater& deflater) { return Prepare(items_[index], deflater); },
          [](const PrefetchedEntry& entry) { return entry.deflated.size(); }, threads, ahead, heldLimit) {}

EntryPrefetcher::~EntryPrefetcher() { stopping_ = true; }

std::optional<PrefetchedEntry> EntryPrefetcher::Take(size_t index, const platform::FileStamp& now) {
  std::optional<PrefetchedEntry> entry = lookahead_.Take(index);
  if (entry && !(entry->stamp == now)) return std::nullopt;
  return entry;
}

std::optional<PrefetchedEntry> EntryPrefetcher::Prepare(const std::string& path, ParallelDeflater& deflater) const {
  try {
    std::error_code ec;
    SourceFile source;
    if (!source.Open(path, ec) || source.Length() > kMaxFileSize) return std::nullopt;

    PrefetchedEntry entry;
    entry.stamp = source.AtOpen();
    // Never more than one chunk, so the deflate below is the single stream the pass would make.
    SourceReader read = [&](uint8_t* buffer, size_t max) -> size_t {
      if (stopping_.load(std::memory_order_relaxed)) return 0;  // the file is then not prepared
      const auto room = static_cast<uint64_t>(kMaxFileSize) - source.BytesRead();
      return source.Read(buffer, static_cast<size_t>(std::min<uint64_t>({max, room, kSourceReadSlice})));
    };
    ArchiveWriter write = [&](const uint8_t* data, size_t count) {
      entry.deflated.insert(entry.deflated.end(), data, data + count);
    };
    deflater.Deflate(level_, read, write, 1);
    source.Finish();  // a file that changed meanwhile is the pass's to pack, or to refuse
    if (source.BytesRead() != static_cast<uint64_t>(source.Length())) return std::nullopt;
    entry.crc = source.Crc();
    return entry;
  } catch (...) {
    // Whatever went wrong (a read error, a change, memory, zlib) is met again, and reported, when
    // the pass packs the file.
    return std::nullopt;
  }
}

}  // namespace kvelv
