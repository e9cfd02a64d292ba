#include "zip/EntryPrefetcher.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "zip/Crc32.h"

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

std::optional<PrefetchedEntry> EntryPrefetcher::Take(size_t index, int64_t size, int64_t lastWriteTime) {
  std::optional<PrefetchedEntry> entry = lookahead_.Take(index);
  if (entry && (entry->size != size || entry->lastWriteTime != lastWriteTime)) return std::nullopt;
  return entry;
}

std::optional<PrefetchedEntry> EntryPrefetcher::Prepare(const std::string& path, ParallelDeflater& deflater) const {
  try {
    const auto info = platform::GetFileInfo(path);
    if (!info || info->IsFolder() || info->size > kMaxFileSize) return std::nullopt;
    std::error_code ec;
    platform::File source = platform::File::Open(path, platform::OpenMode::ReadDenyNone, ec);
    if (!source.IsOpen() || source.Size() != info->size) return std::nullopt;

    PrefetchedEntry entry;
    entry.lastWriteTime = info->lastWriteTime;
    uint32_t crc = kCrc32Start;
    bool failed = false;
    // Never more than one chunk, so the deflate below is the single stream the pass would make.
    SourceReader read = [&](uint8_t* buffer, size_t max) -> size_t {
      const auto room = static_cast<size_t>(kMaxFileSize - entry.size);
      if (failed || room == 0 || stopping_.load(std::memory_order_relaxed)) return 0;
      const int64_t got = source.Read(buffer, static_cast<int64_t>(std::min({max, room, kSourceReadSlice})));
      if (got < 0) {
        failed = true;
        return 0;
      }
      crc = Crc32Update(crc, buffer, static_cast<size_t>(got));
      entry.size += got;
      return static_cast<size_t>(got);
    };
    ArchiveWriter write = [&](const uint8_t* data, size_t count) {
      entry.deflated.insert(entry.deflated.end(), data, data + count);
    };
    deflater.Deflate(level_, read, write, 1);
    uint8_t more = 0;
    if (failed || entry.size != info->size || source.Read(&more, 1) != 0) return std::nullopt;
    entry.crc = ~crc;
    return entry;
  } catch (...) {
    // Whatever went wrong (memory, zlib) is met again, and reported, when the pass packs the file.
    return std::nullopt;
  }
}

}  // namespace kvelv
