#include "jobs/sealed/SealedSource.h"

#include <algorithm>
#include <cstring>

namespace kvelv::sealed {

namespace {

constexpr const char kWrongPassword[] = "wrong password or damaged file (the header does not authenticate)";

// A buffer that held plaintext, wiped before its memory goes.
struct WipedBuffer {
  explicit WipedBuffer(size_t size) : bytes(size) {}
  ~WipedBuffer() { Wipe(bytes.data(), bytes.size()); }
  std::vector<uint8_t> bytes;
};

}  // namespace

std::shared_ptr<SealedSource> SealedSource::Open(std::shared_ptr<const ArchiveSource> raw,
                                                 std::string_view password, std::string& failure) {
  uint8_t bytes[kHeaderSize];
  const int64_t got = raw->ReadAt(0, bytes, kHeaderSize);
  if (got < 0) {
    failure = "the container cannot be read";
    return nullptr;
  }
  Header header;
  if (std::string problem = DecodeHeader(bytes, static_cast<size_t>(got), header); !problem.empty()) {
    failure = "the container is damaged or not readable here: " + problem;
    return nullptr;
  }
  auto keys = std::make_unique<SealedKeys>();
  if (!keys->Derive(password, header, failure)) return nullptr;
  return Open(std::move(raw), std::move(keys), failure);
}

std::shared_ptr<SealedSource> SealedSource::Open(std::shared_ptr<const ArchiveSource> raw,
                                                 std::unique_ptr<SealedKeys> keys, std::string& failure) {
  uint8_t bytes[kHeaderSize];
  const int64_t got = raw->ReadAt(0, bytes, kHeaderSize);
  Header header;
  if (got < 0 || !DecodeHeader(bytes, static_cast<size_t>(got), header).empty()) {
    failure = "the container's header cannot be read";
    return nullptr;
  }
  const std::array<uint8_t, kMacSize> expected = keys->HeaderTag(bytes);
  if (!EqualInConstantTime(expected.data(), header.tag.data(), kMacSize)) {
    failure = kWrongPassword;
    return nullptr;
  }
  Layout layout;
  if (!LayoutFor(raw->Size(), layout)) {
    failure = "the container is cut off or damaged (its length of " + std::to_string(raw->Size()) +
              " bytes does not fit its chunks)";
    return nullptr;
  }
  std::shared_ptr<SealedSource> source(new SealedSource(std::move(raw), std::move(keys), header, layout));
  // The last chunk carries the last-chunk flag: a container cut at a chunk boundary fails here.
  WipedBuffer last(static_cast<size_t>(source->ChunkLength(layout.chunks - 1)));
  if (!source->OpenChunk(layout.chunks - 1, last.bytes.data())) {
    failure = source->Failure();
    return nullptr;
  }
  return source;
}

SealedSource::SealedSource(std::shared_ptr<const ArchiveSource> raw, std::unique_ptr<SealedKeys> keys,
                           const Header& header, Layout layout)
    : raw_(std::move(raw)),
      keys_(std::move(keys)),
      prefix_(header.noncePrefix),
      layout_(layout),
      verified_(static_cast<size_t>((layout.chunks + 63) / 64)) {}

SealedSource::~SealedSource() {
  StopAhead();
  for (Slot& slot : slots_) Wipe(slot.bytes.data(), slot.bytes.size());
  for (AheadSlot& slot : ahead_) Wipe(slot.bytes.data(), slot.bytes.size());
}

void SealedSource::StopAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    aheadStop_ = true;
  }
  aheadWork_.notify_all();
  aheadThread_.reset();
}

void SealedSource::Touch(int64_t index) const {
  if (index <= lastTouched_) return;
  const bool onward = index == lastTouched_ + 1;
  lastTouched_ = index;
  if (aheadStop_) return;
  if (!aheadThread_ && onward) {
    try {
      aheadThread_.emplace(1u, [this] { OpenAhead(); }, [this] { aheadStop_ = true; });
    } catch (...) {
      aheadStop_ = true;  // without the thread every read opens its chunks itself
      return;
    }
  }
  if (!aheadThread_) return;
  aheadFrom_ = index + 1;
  aheadTo_ = std::min(layout_.chunks, index + 1 + kAhead);
  aheadWork_.notify_one();
}

bool SealedSource::TakeAhead(int64_t index, std::unique_lock<std::mutex>& lock, std::vector<uint8_t>& into) const {
  for (;;) {
    AheadSlot* found = nullptr;
    for (AheadSlot& slot : ahead_) {
      if (slot.index == index) found = &slot;
    }
    if (found == nullptr) return false;
    if (found->ready) {
      into.swap(found->bytes);
      found->index = -1;
      found->ready = false;
      aheadWork_.notify_one();
      return true;
    }
    aheadDone_.wait(lock);  // the thread is opening it
  }
}

void SealedSource::OpenAhead() const {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // The first chunk of the window that is neither opened ahead nor in the cache, and a slot for
    // it: a free one, or one that holds a chunk the window has left behind.
    int64_t next = -1;
    AheadSlot* slot = nullptr;
    aheadWork_.wait(lock, [&] {
      if (aheadStop_) return true;
      next = -1;
      for (int64_t index = aheadFrom_; index < aheadTo_ && next < 0; ++index) {
        bool known = false;
        for (const AheadSlot& s : ahead_) known = known || s.index == index;
        for (const Slot& s : slots_) known = known || s.index == index;
        if (!known) next = index;
      }
      if (next < 0) return false;
      slot = nullptr;
      for (AheadSlot& s : ahead_) {
        if (s.index < 0 || (s.ready && (s.index < aheadFrom_ || s.index >= aheadTo_))) slot = &s;
      }
      return slot != nullptr;
    });
    if (aheadStop_) return;
    slot->index = next;
    slot->ready = false;
    lock.unlock();
    slot->bytes.resize(static_cast<size_t>(kChunkSize));
    const bool opened = OpenChunk(next, slot->bytes.data(), true);
    lock.lock();
    if (opened) {
      slot->ready = true;
    } else {
      // The reader meets the failure when it gets there; nothing more is opened ahead.
      slot->index = -1;
      aheadStop_ = true;
    }
    aheadDone_.notify_all();
  }
}

int64_t SealedSource::ChunkLength(int64_t index) const {
  return std::min(kChunkSize, layout_.plainSize - index * kChunkSize);
}

bool SealedSource::OpenChunk(int64_t index, uint8_t* out, bool quiet) const {
  const int64_t length = ChunkLength(index);
  const int64_t sealedLength = length + static_cast<int64_t>(kAeadTagSize);
  std::vector<uint8_t> sealed(static_cast<size_t>(sealedLength));
  const int64_t at = static_cast<int64_t>(kHeaderSize) + index * kSealedChunkSize;
  auto note = [&](const std::string& text) {
    if (quiet) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = text;
    return false;
  };
  if (raw_->ReadAt(at, sealed.data(), sealedLength) != sealedLength)
    return note("the container cannot be read at chunk " + std::to_string(index));
  const bool last = index == layout_.chunks - 1;
  const auto nonce = ChunkNonce(prefix_, static_cast<uint32_t>(index), last);
  if (!AeadOpen(keys_->Payload(), nonce.data(), sealed.data(), sealed.size(), out)) {
    return note(last ? "the container is damaged or cut off (its last chunk, " + std::to_string(index) +
                           ", does not authenticate)"
                     : "the container is damaged (chunk " + std::to_string(index) + " does not authenticate)");
  }
  MarkVerified(index);
  return true;
}

void SealedSource::MarkVerified(int64_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_[static_cast<size_t>(index / 64)] |= uint64_t{1} << (index % 64);
}

int64_t SealedSource::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (position < 0 || count < 0) return -1;
  if (position >= layout_.plainSize || count == 0) return 0;
  count = std::min(count, layout_.plainSize - position);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t index = (position + done) / kChunkSize;
    const int64_t offset = (position + done) % kChunkSize;
    const int64_t length = ChunkLength(index);
    const int64_t n = std::min(count - done, length - offset);
    {
      // From the cache, or opened ahead (then kept in the cache for the rest of its bytes).
      std::unique_lock<std::mutex> lock(mutex_);
      Touch(index);
      Slot* hit = nullptr;
      for (Slot& slot : slots_) {
        if (slot.index == index) hit = &slot;
      }
      std::vector<uint8_t> opened;
      if (hit == nullptr && TakeAhead(index, lock, opened)) {
        hit = &Victim(index);
        Wipe(hit->bytes.data(), hit->bytes.size());
        hit->bytes.swap(opened);
        hit->index = index;
      }
      if (hit != nullptr) {
        std::memcpy(out + done, hit->bytes.data() + offset, static_cast<size_t>(n));
        hit->used = ++clock_;
        done += n;
        continue;
      }
    }
    if (offset == 0 && n == length) {
      // A whole chunk: straight into the caller's buffer.
      if (!OpenChunk(index, out + done)) return -1;
      done += n;
      continue;
    }
    WipedBuffer plain(static_cast<size_t>(length));
    if (!OpenChunk(index, plain.bytes.data())) return -1;
    std::memcpy(out + done, plain.bytes.data() + offset, static_cast<size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& victim = Victim(index);
    victim.bytes.resize(static_cast<size_t>(kChunkSize));
    std::memcpy(victim.bytes.data(), plain.bytes.data(), static_cast<size_t>(length));
    victim.index = index;
    victim.used = ++clock_;
    done += n;
  }
  return count;
}

SealedSource::Slot& SealedSource::Victim(int64_t index) const {
  for (Slot& slot : slots_) {
    if (slot.index == index) return slot;  // another thread put it there meanwhile
  }
  Slot* victim = &slots_[0];
  for (Slot& slot : slots_) {
    if (slot.used < victim->used) victim = &slot;
  }
  return *victim;
}

bool SealedSource::VerifyRemaining(std::string& failure, const std::function<bool()>& keepGoing) const {
  WipedBuffer scratch(static_cast<size_t>(kChunkSize));
  for (int64_t index = 0; index < layout_.chunks; ++index) {
    if (keepGoing && !keepGoing()) {
      failure = "cancelled";
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if ((verified_[static_cast<size_t>(index / 64)] >> (index % 64)) & 1) continue;
    }
    if (!OpenChunk(index, scratch.bytes.data())) {
      failure = Failure();
      return false;
    }
  }
  return true;
}

std::string SealedSource::Failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

}  // namespace kvelv::sealed
