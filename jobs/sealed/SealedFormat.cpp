#include "jobs/sealed/SealedFormat.h"

#include <algorithm>
#include <cstring>

namespace kvelv::sealed {

namespace {

// Offsets of the header's fields.
constexpr size_t kVersionAt = 8;
constexpr size_t kKdfAt = 9;
constexpr size_t kAeadAt = 10;
constexpr size_t kChunkExponentAt = 11;
constexpr size_t kMemoryAt = 12;
constexpr size_t kPassesAt = 16;
constexpr size_t kLanesAt = 20;
constexpr size_t kSaltAt = 24;
constexpr size_t kPrefixAt = kSaltAt + kSaltSize;          // 40
constexpr size_t kReservedAt = kPrefixAt + kNoncePrefixSize;  // 59
static_assert(kReservedAt + 1 == kAuthenticatedSize);

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

bool HasMagic(const uint8_t* bytes, size_t size) {
  return size >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes);
}

std::string KdfProblem(const KdfParams& params) {
  if (params.lanes != 1) return "Argon2id with " + std::to_string(params.lanes) + " lanes (only 1 is supported)";
  if (params.memoryKiB < kMinMemoryKiB || params.memoryKiB > kMaxMemoryKiB)
    return "Argon2id memory of " + std::to_string(params.memoryKiB) + " KiB (allowed: " +
           std::to_string(kMinMemoryKiB) + " to " + std::to_string(kMaxMemoryKiB) + ")";
  if (params.passes < kMinPasses || params.passes > kMaxPasses)
    return "Argon2id with " + std::to_string(params.passes) + " passes (allowed: " + std::to_string(kMinPasses) +
           " to " + std::to_string(kMaxPasses) + ")";
  return {};
}

std::array<uint8_t, kHeaderSize> EncodeHeader(const Header& header) {
  std::array<uint8_t, kHeaderSize> out{};
  std::copy(kMagic.begin(), kMagic.end(), out.begin());
  out[kVersionAt] = kVersion;
  out[kKdfAt] = kKdfArgon2id;
  out[kAeadAt] = kAeadXChaCha20Poly1305;
  out[kChunkExponentAt] = kChunkExponent;
  PutU32(&out[kMemoryAt], header.kdf.memoryKiB);
  PutU32(&out[kPassesAt], header.kdf.passes);
  PutU32(&out[kLanesAt], header.kdf.lanes);
  std::copy(header.salt.begin(), header.salt.end(), out.begin() + kSaltAt);
  std::copy(header.noncePrefix.begin(), header.noncePrefix.end(), out.begin() + kPrefixAt);
  out[kReservedAt] = 0;
  std::copy(header.tag.begin(), header.tag.end(), out.begin() + kAuthenticatedSize);
  return out;
}

std::string DecodeHeader(const uint8_t* bytes, size_t size, Header& header) {
  if (!HasMagic(bytes, size)) return "it is not a sealed container";
  if (size < kHeaderSize) return "its header is cut off";
  if (bytes[kVersionAt] != kVersion)
    return "it is of format version " + std::to_string(bytes[kVersionAt]) + ", which this program cannot read";
  if (bytes[kKdfAt] != kKdfArgon2id)
    return "its key derivation " + std::to_string(bytes[kKdfAt]) + " is unknown to this program";
  if (bytes[kAeadAt] != kAeadXChaCha20Poly1305)
    return "its cipher " + std::to_string(bytes[kAeadAt]) + " is unknown to this program";
  if (bytes[kChunkExponentAt] != kChunkExponent || bytes[kReservedAt] != 0) return "its header is damaged";
  header.kdf = {GetU32(&bytes[kMemoryAt]), GetU32(&bytes[kPassesAt]), GetU32(&bytes[kLanesAt])};
  if (std::string problem = KdfProblem(header.kdf); !problem.empty())
    return "it asks for " + problem + ", beyond this program's limits";
  std::memcpy(header.salt.data(), bytes + kSaltAt, kSaltSize);
  std::memcpy(header.noncePrefix.data(), bytes + kPrefixAt, kNoncePrefixSize);
  std::memcpy(header.tag.data(), bytes + kAuthenticatedSize, kMacSize);
  return {};
}

std::array<uint8_t, kNonceSize> ChunkNonce(const std::array<uint8_t, kNoncePrefixSize>& prefix, uint32_t index,
                                           bool last) {
  std::array<uint8_t, kNonceSize> nonce{};
  std::copy(prefix.begin(), prefix.end(), nonce.begin());
  for (int i = 0; i < 4; ++i) nonce[kNoncePrefixSize + i] = static_cast<uint8_t>(index >> (24 - 8 * i));
  nonce[kNonceSize - 1] = last ? 1 : 0;
  return nonce;
}

bool LayoutFor(int64_t containerSize, Layout& layout) {
  const int64_t body = containerSize - static_cast<int64_t>(kHeaderSize);
  if (body < static_cast<int64_t>(kAeadTagSize)) return false;
  const int64_t chunks = (body + kSealedChunkSize - 1) / kSealedChunkSize;
  const int64_t lastSealed = body - (chunks - 1) * kSealedChunkSize;
  // Only an empty payload has an empty last chunk.
  if (lastSealed < static_cast<int64_t>(kAeadTagSize) || (chunks > 1 && lastSealed == static_cast<int64_t>(kAeadTagSize)))
    return false;
  if (chunks > kMaxChunks) return false;
  layout.chunks = chunks;
  layout.plainSize = body - chunks * static_cast<int64_t>(kAeadTagSize);
  return true;
}

int64_t ContainerSizeFor(int64_t plainSize) {
  const int64_t chunks = std::max<int64_t>(1, (plainSize + kChunkSize - 1) / kChunkSize);
  return static_cast<int64_t>(kHeaderSize) + plainSize + chunks * static_cast<int64_t>(kAeadTagSize);
}

}  // namespace kvelv::sealed
