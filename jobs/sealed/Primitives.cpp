#include "jobs/sealed/Primitives.h"

#include <sodium.h>

#include <vector>

namespace kvelv::sealed {

static_assert(kSaltSize == crypto_pwhash_argon2id_SALTBYTES);
static_assert(kNonceSize == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(kKeySize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
static_assert(kAeadTagSize == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(kMacSize == crypto_auth_hmacsha256_BYTES);

bool PrimitivesReady() {
  static const bool ready = sodium_init() >= 0;  // sodium_init itself may be called again
  return ready;
}

void RandomBytes(void* out, size_t size) { randombytes_buf(out, size); }

void Wipe(void* data, size_t size) { sodium_memzero(data, size); }

bool EqualInConstantTime(const void* a, const void* b, size_t size) { return sodium_memcmp(a, b, size) == 0; }

bool Argon2id(const void* password, size_t passwordSize, const uint8_t salt[kSaltSize], uint32_t passes,
              uint32_t memoryKiB, uint8_t out[kKeySize]) {
  if (!PrimitivesReady()) return false;
  return crypto_pwhash_argon2id(out, kKeySize, static_cast<const char*>(password), passwordSize, salt, passes,
                                static_cast<size_t>(memoryKiB) * 1024, crypto_pwhash_argon2id_ALG_ARGON2ID13) == 0;
}

void HmacSha256(const uint8_t key[kKeySize], const void* data, size_t size, uint8_t out[kMacSize]) {
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, key, kKeySize);
  crypto_auth_hmacsha256_update(&state, static_cast<const unsigned char*>(data), size);
  crypto_auth_hmacsha256_final(&state, out);
  sodium_memzero(&state, sizeof state);
}

void AeadSeal(const uint8_t key[kKeySize], const uint8_t nonce[kNonceSize], const uint8_t* in, size_t size,
              uint8_t* out) {
  crypto_aead_xchacha20poly1305_ietf_encrypt(out, nullptr, in, size, nullptr, 0, nullptr, nonce, key);
}

bool AeadOpen(const uint8_t key[kKeySize], const uint8_t nonce[kNonceSize], const uint8_t* in, size_t size,
              uint8_t* out) {
  if (size < kAeadTagSize) return false;
  return crypto_aead_xchacha20poly1305_ietf_decrypt(out, nullptr, nullptr, in, size, nullptr, 0, nonce, key) == 0;
}

std::string Argon2idEncode(std::string_view password, uint32_t passes, uint32_t memoryKiB) {
  if (!PrimitivesReady()) return {};
  char encoded[crypto_pwhash_argon2id_STRBYTES];
  if (crypto_pwhash_argon2id_str(encoded, password.data(), password.size(), passes,
                                 static_cast<size_t>(memoryKiB) * 1024) != 0)
    return {};
  return encoded;
}

bool Argon2idVerify(const std::string& encoded, std::string_view password) {
  if (!PrimitivesReady()) return false;
  // The library reads the encoded form from a buffer of its full size.
  char buffer[crypto_pwhash_argon2id_STRBYTES] = {};
  if (encoded.size() >= sizeof buffer) return false;
  encoded.copy(buffer, encoded.size());
  return crypto_pwhash_argon2id_str_verify(buffer, password.data(), password.size()) == 0;
}

}  // namespace kvelv::sealed
