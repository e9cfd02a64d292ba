#include "jobs/sealed/SealedWriter.h"

#include <vector>

#include "jobs/ContainerTarget.h"
#include "jobs/sealed/SealedKeys.h"

namespace kvelv::sealed {

namespace {

// How often the progress is reported: as the classic format's encryption does it.
constexpr int64_t kProgressStep = int64_t{1} << 20;

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
  // Written beside the target under a temporary name, which nothing leaves behind: every way out
  // of here removes it, and so does a signal that ends the process, or the watcher after a kill.
  ContainerTarget out;
  if (!out.Create(target, failure)) return 0;
  bool stopped = false;
  const int64_t total = source.Size();
  // Reports after every MiB read (and at the start and the end); false once the caller says stop.
  int64_t reported = -1;
  auto keepGoing = [&](int64_t done) {
    if (!settings.progress || (reported >= 0 && done - reported < kProgressStep && done < total)) return true;
    reported = done;
    if (settings.progress(done, total)) return true;
    stopped = true;
    if (cancelled != nullptr) *cancelled = true;
    failure = "cancelled";
    return false;
  };
  std::string reason;
  bool readFailed = false;
  int64_t position = 0;
  const bool sealed = Seal(
      password, settings,
      [&](uint8_t* buffer, int64_t max) {
        if (!keepGoing(position)) return int64_t{-1};
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
    if (stopped) return 0;
    if (readFailed) {
      failure = "Cannot read \"" + sourceName + "\"";
    } else if (!reason.empty()) {
      failure = reason;
    }
    return 0;
  }
  // A container is a file for the user: a replaced one keeps its permissions, a new one gets the
  // usual ones.
  if (!out.Finish(platform::NewFileMode::Usual, failure)) return 0;
  // The last moment at which the old target can still stay as it was.
  reported = -1;
  if (!keepGoing(position)) return 0;
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
