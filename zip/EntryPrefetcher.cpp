#include "zip/EntryPrefetcher.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "zip/Crc32.h"

namespace kvelv {

EntryPrefetcher::EntryPrefetcher(const std::vector<std::string>& items, std::vector<bool> wanted, int level,
                                 unsigned threads, size_t ahead, size_t heldLimit)
    : items_(items),
      wanted_(std::move(wanted)),
      level_(level),
      ahead_(ahead > 0 ? ahead : 8 * static_cast<size_t>(std::max(threads, 1u))),
      heldLimit_(heldLimit),
      state_(items.size(), State::Waiting),
      ready_(items.size()) {
  wanted_.resize(items.size(), false);
  threads = std::max(threads, 1u);
  try {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  } catch (...) {
    // Without threads the pass simply packs every file itself.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workAvailable_.notify_all();
  }
}

EntryPrefetcher::~EntryPrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  workAvailable_.notify_all();
  for (auto& worker : workers_) worker.join();
}

bool EntryPrefetcher::HasWork() {
  next_ = std::max(next_, taken_);
  while (next_ < items_.size() && !wanted_[next_]) ++next_;
  return next_ < items_.size() && next_ < taken_ + ahead_ && held_ <= heldLimit_;
}

void EntryPrefetcher::Work() {
  for (;;) {
    size_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workAvailable_.wait(lock, [this] { return stop_ || HasWork() || next_ >= items_.size(); });
      if (stop_ || next_ >= items_.size()) return;
      index = next_++;
      state_[index] = State::Working;
    }
    std::optional<PrefetchedEntry> entry = Prepare(items_[index]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (index >= taken_ && entry) {
        held_ += entry->deflated.size();
        ready_[index] = std::move(entry);
      }
      state_[index] = State::Ready;
    }
    entryReady_.notify_all();
  }
}

std::optional<PrefetchedEntry> EntryPrefetcher::Prepare(const std::string& path) const {
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
      if (failed || room == 0) return 0;
      const int64_t got = source.Read(buffer, static_cast<int64_t>(std::min(max, room)));
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
    ParallelDeflateEntryData(level_, read, write, 1);
    uint8_t more = 0;
    if (failed || entry.size != info->size || source.Read(&more, 1) != 0) return std::nullopt;
    entry.crc = ~crc;
    return entry;
  } catch (...) {
    // Whatever went wrong (memory, zlib) is met again, and reported, when the pass packs the file.
    return std::nullopt;
  }
}

void EntryPrefetcher::DropBefore(size_t index) {
  for (size_t i = taken_; i < index && i < items_.size(); ++i) {
    if (ready_[i]) {
      held_ -= ready_[i]->deflated.size();
      ready_[i].reset();
    }
  }
  taken_ = std::max(taken_, index);
}

std::optional<PrefetchedEntry> EntryPrefetcher::Take(size_t index, int64_t size, int64_t lastWriteTime) {
  std::optional<PrefetchedEntry> entry;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (index >= items_.size() || index < taken_ || !wanted_[index]) return std::nullopt;
    DropBefore(index);
    // Workers claim items in order, so nothing after this one is held now and a worker is free
    // to take it if none has yet.
    workAvailable_.notify_all();
    entryReady_.wait(lock, [&] { return stop_ || state_[index] == State::Ready; });
    entry = std::move(ready_[index]);
    ready_[index].reset();
    if (entry) held_ -= entry->deflated.size();
    taken_ = index + 1;
  }
  workAvailable_.notify_all();
  if (entry && (entry->size != size || entry->lastWriteTime != lastWriteTime)) return std::nullopt;
  return entry;
}

}  // namespace kvelv
