#include "jobs/sealed/SealedWriter.h"

#include <vector>

#include "jobs/ContainerTarget.h"
#include "jobs/sealed/SealedKeys.h"

namespace kvelv::sealed {

namespace {

struct WipedBuffer {
  explicit WipedBuffer(size_t size) : bytes(size) {}
  ~WipedBuffer() { Wipe(bytes.data(), bytes.size()); }
  std::vector<uint8_t> bytes;
};

// Fills `buffer` with up to one chunk; -1 on a read error.
int64_t FillChunk(const ReadFunction& read, uint8_t* buffer) {
  int64_t filled = 0;
  while (filled < kChunkSize) {
    const int64_t got = read(buffer + filled, kChunkSize - filled);
    if (got < 0) return -1;
    if (got == 0) break;
    filled += got;
  }
  return filled;
}

}  // namespace

bool Seal(std::string_view password, const SealSettings& settings, const ReadFunction& read,
          const WriteFunction& write, std::string& failure) {
  if (!PrimitivesReady()) {
    failure = "the cryptographic library cannot be initialised";
    return false;
  }
  Header header;
  header.kdf = settings.kdf;
  if (settings.salt) {
    header.salt = *settings.salt;
  } else {
    RandomBytes(header.salt.data(), header.salt.size());
  }
  if (settings.noncePrefix) {
    header.noncePrefix = *settings.noncePrefix;
  } else {
    RandomBytes(header.noncePrefix.data(), header.noncePrefix.size());
  }
  SealedKeys keys;
  if (!keys.Derive(password, header, failure)) return false;
  std::array<uint8_t, kHeaderSize> encoded = EncodeHeader(header);
  header.tag = keys.HeaderTag(encoded.data());
  encoded = EncodeHeader(header);
  if (!write(encoded.data(), encoded.size())) return false;

  WipedBuffer current(static_cast<size_t>(kSealedChunkSize));
  WipedBuffer next(static_cast<size_t>(kSealedChunkSize));
  int64_t currentLength = FillChunk(read, current.bytes.data());
  bool ended = currentLength < kChunkSize;
  for (int64_t index = 0;; ++index) {
    if (currentLength < 0) {
      failure = "cannot read the archive";
      return false;
    }
    if (index >= kMaxChunks) {
      failure = "the archive is too large for the container format";
      return false;
    }
    int64_t nextLength = 0;
    if (!ended) {
      nextLength = FillChunk(read, next.bytes.data());
      if (nextLength < 0) {
        failure = "cannot read the archive";
        return false;
      }
      ended = nextLength < kChunkSize;
    }
    const bool last = nextLength == 0;
    const auto nonce = ChunkNonce(header.noncePrefix, static_cast<uint32_t>(index), last);
    AeadSeal(keys.Payload(), nonce.data(), current.bytes.data(), static_cast<size_t>(currentLength),
             current.bytes.data());
    if (!write(current.bytes.data(), static_cast<size_t>(currentLength) + kAeadTagSize)) return false;
    if (last) return true;
    std::swap(current.bytes, next.bytes);
    currentLength = nextLength;
  }
}

int SealSourceTo(const ArchiveSource& source, const std::string& sourceName, const std::string& target,
                 std::string_view password, const SealSettings& settings, std::string& failure, bool* cancelled) {
  if (cancelled != nullptr) *cancelled = false;
  ContainerTarget out;
  if (!out.Create(target, failure)) return 0;
  std::string reason;
  bool readFailed = false, stopped = false;
  int64_t position = 0;
  const int64_t total = source.Size();
  const bool sealed = Seal(
      password, settings,
      [&](uint8_t* buffer, int64_t max) {
        if (settings.progress && !settings.progress(position, total)) {
          stopped = true;
          return int64_t{-1};
        }
        const int64_t got = source.ReadAt(position, buffer, max);
        if (got < 0) {
          readFailed = true;
          return got;
        }
        position += got;
        return got;
      },
      [&](const uint8_t* data, size_t size) { return out.Write(data, size, failure); }, reason);
  if (!sealed) {
    if (stopped) {
      if (cancelled != nullptr) *cancelled = true;
      failure = "cancelled";
    } else if (readFailed) {
      failure = "Cannot read \"" + sourceName + "\"";
    } else if (!reason.empty()) {
      failure = reason;
    }
    return 0;
  }
  return out.Commit(failure) ? 1 : 0;
}

int SealFileTo(const std::string& source, const std::string& target, std::string_view password,
               const SealSettings& settings, std::string& failure) {
  std::error_code ec;
  std::shared_ptr<FileArchiveSource> in = FileArchiveSource::Open(source, ec);
  if (!in) {
    failure = "Cannot open \"" + source + "\": " + (ec ? ec.message() : std::string("unknown error"));
    return 0;
  }
  return SealSourceTo(*in, source, target, password, settings, failure);
}

}  // namespace kvelv::sealed
