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
  for (Slot& slot : slots_) Wipe(slot.bytes.data(), slot.bytes.size());
}

int64_t SealedSource::ChunkLength(int64_t index) const {
  return std::min(kChunkSize, layout_.plainSize - index * kChunkSize);
}

bool SealedSource::OpenChunk(int64_t index, uint8_t* out) const {
  const int64_t length = ChunkLength(index);
  const int64_t sealedLength = length + static_cast<int64_t>(kAeadTagSize);
  std::vector<uint8_t> sealed(static_cast<size_t>(sealedLength));
  const int64_t at = static_cast<int64_t>(kHeaderSize) + index * kSealedChunkSize;
  auto note = [&](const std::string& text) {
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
    if (offset == 0 && n == length) {
      // A whole chunk: straight into the caller's buffer.
      if (!OpenChunk(index, out + done)) return -1;
      done += n;
      continue;
    }
    bool hit = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (Slot& slot : slots_) {
        if (slot.index != index) continue;
        std::memcpy(out + done, slot.bytes.data() + offset, static_cast<size_t>(n));
        slot.used = ++clock_;
        hit = true;
        break;
      }
    }
    if (!hit) {
      WipedBuffer plain(static_cast<size_t>(length));
      if (!OpenChunk(index, plain.bytes.data())) return -1;
      std::memcpy(out + done, plain.bytes.data() + offset, static_cast<size_t>(n));
      std::lock_guard<std::mutex> lock(mutex_);
      Slot* victim = nullptr;
      for (Slot& slot : slots_) {
        if (slot.index == index) victim = &slot;  // another thread put it there meanwhile
      }
      if (victim == nullptr) {
        victim = &slots_[0];
        for (Slot& slot : slots_) {
          if (slot.used < victim->used) victim = &slot;
        }
      }
      victim->bytes.resize(static_cast<size_t>(kChunkSize));
      std::memcpy(victim->bytes.data(), plain.bytes.data(), static_cast<size_t>(length));
      victim->index = index;
      victim->used = ++clock_;
    }
    done += n;
  }
  return count;
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
