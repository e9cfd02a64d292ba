#pragma once
// The sealed container (format 2), byte for byte as docs/FORMAT.md describes it: a 92-byte
// header authenticated with a key derived from the password, then the ZIP archive in chunks of
// 64 KiB, each sealed with XChaCha20-Poly1305 under a nonce made of the header's prefix, the
// chunk's number and a last-chunk flag, so chunks cannot be moved, dropped, repeated or cut off
// unnoticed and any chunk can be read on its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "jobs/sealed/Primitives.h"

namespace kvelv::sealed {

inline constexpr std::array<uint8_t, 8> kMagic = {0x89, 'K', 'V', 'L', 0x00, 0x0D, 0x0A, 0x1A};
inline constexpr uint8_t kVersion = 2;
inline constexpr uint8_t kKdfArgon2id = 1;         // Argon2id, version 1.3 (0x13)
inline constexpr uint8_t kAeadXChaCha20Poly1305 = 1;
inline constexpr uint8_t kChunkExponent = 16;      // 64 KiB chunks
inline constexpr size_t kNoncePrefixSize = 19;     // + 4-byte chunk number + 1-byte last flag
inline constexpr size_t kAuthenticatedSize = 60;   // the header bytes the tag covers
inline constexpr size_t kHeaderSize = kAuthenticatedSize + kMacSize;

inline constexpr int64_t kChunkSize = int64_t{1} << kChunkExponent;
inline constexpr int64_t kSealedChunkSize = kChunkSize + static_cast<int64_t>(kAeadTagSize);
// Chunk numbers are 32 bits.
inline constexpr int64_t kMaxChunks = int64_t{1} << 32;

// Argon2id's cost. The reader refuses anything outside the limits before it allocates.
struct KdfParams {
  uint32_t memoryKiB = 0;
  uint32_t passes = 0;
  uint32_t lanes = 1;
  bool operator==(const KdfParams&) const = default;
};
inline constexpr uint32_t kMinMemoryKiB = 8;
inline constexpr uint32_t kMaxMemoryKiB = 1024 * 1024;  // 1 GiB
inline constexpr uint32_t kMinPasses = 1;
inline constexpr uint32_t kMaxPasses = 10;
// What the program writes: about half a second on two ordinary cores.
inline constexpr KdfParams kDefaultKdf{128 * 1024, 3, 1};

struct Header {
  KdfParams kdf;
  std::array<uint8_t, kSaltSize> salt{};
  std::array<uint8_t, kNoncePrefixSize> noncePrefix{};
  std::array<uint8_t, kMacSize> tag{};
};

// True when `bytes` (at least the magic's length) begin with the magic.
bool HasMagic(const uint8_t* bytes, size_t size);
// Empty when `params` are within the limits, else why not.
std::string KdfProblem(const KdfParams& params);

// The header's bytes; the tag is written as it stands in `header`.
std::array<uint8_t, kHeaderSize> EncodeHeader(const Header& header);
// Reads a header, checking the magic, the version, the identifiers and the parameters' limits
// (nothing is allocated). Empty on success, else what is wrong.
std::string DecodeHeader(const uint8_t* bytes, size_t size, Header& header);

// The nonce of chunk `index`.
std::array<uint8_t, kNonceSize> ChunkNonce(const std::array<uint8_t, kNoncePrefixSize>& prefix, uint32_t index,
                                           bool last);

// The chunks of a container of `containerSize` bytes: their count and the plaintext's length.
// False when no sealed container has that length (too short, or a last chunk of impossible size).
struct Layout {
  int64_t chunks = 0;
  int64_t plainSize = 0;
};
bool LayoutFor(int64_t containerSize, Layout& layout);
// The container's length for a plaintext of `plainSize` bytes.
int64_t ContainerSizeFor(int64_t plainSize);

}  // namespace kvelv::sealed
