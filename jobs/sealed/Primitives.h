#pragma once
// The primitives of the sealed container and of the Argon2id login hash, all from libsodium:
// Argon2id, HMAC-SHA-256, XChaCha20-Poly1305, the system's random numbers, a wipe the compiler
// keeps and a comparison in constant time. Nothing else includes the library's headers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvelv::sealed {

inline constexpr size_t kKeySize = 32;     // every key and the Argon2id output
inline constexpr size_t kSaltSize = 16;    // Argon2id salt
inline constexpr size_t kNonceSize = 24;   // XChaCha20-Poly1305 nonce
inline constexpr size_t kAeadTagSize = 16; // Poly1305 tag
inline constexpr size_t kMacSize = 32;     // HMAC-SHA-256

// Initialises the library once (thread-safe); false when it cannot be used.
bool PrimitivesReady();

void RandomBytes(void* out, size_t size);
void Wipe(void* data, size_t size);
bool EqualInConstantTime(const void* a, const void* b, size_t size);

// Argon2id version 1.3 with one lane: `out` gets kKeySize bytes. The caller has checked the
// parameters against its limits; false when the library refuses them or memory runs out.
bool Argon2id(const void* password, size_t passwordSize, const uint8_t salt[kSaltSize], uint32_t passes,
              uint32_t memoryKiB, uint8_t out[kKeySize]);

void HmacSha256(const uint8_t key[kKeySize], const void* data, size_t size, uint8_t out[kMacSize]);

// Seals `size` bytes of `in` into `out` (size + kAeadTagSize bytes; may be `in` itself).
void AeadSeal(const uint8_t key[kKeySize], const uint8_t nonce[kNonceSize], const uint8_t* in, size_t size,
              uint8_t* out);
// Opens `size` sealed bytes (tag included) into `out` (size - kAeadTagSize bytes); false, with
// nothing of the plaintext left in `out`, when the tag does not match.
bool AeadOpen(const uint8_t key[kKeySize], const uint8_t nonce[kNonceSize], const uint8_t* in, size_t size,
              uint8_t* out);

// The Argon2id password hash in its usual encoded form ($argon2id$v=19$m=...,t=...,p=...$salt$hash),
// made with a random salt; empty when the library fails.
std::string Argon2idEncode(std::string_view password, uint32_t passes, uint32_t memoryKiB);
// Whether `password` matches `encoded` (the library compares in constant time). The caller has
// checked the encoded parameters against its limits.
bool Argon2idVerify(const std::string& encoded, std::string_view password);

}  // namespace kvelv::sealed
