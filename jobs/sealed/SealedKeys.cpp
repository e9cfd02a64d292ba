#include "jobs/sealed/SealedKeys.h"

#include <cstring>

namespace kvelv::sealed {

namespace {

// HKDF-Expand (RFC 5869) for one block: HMAC-SHA-256(secret, info || 0x01).
void Expand(const uint8_t secret[kKeySize], const char* info, uint8_t out[kKeySize]) {
  const size_t length = std::strlen(info);
  uint8_t message[64];
  std::memcpy(message, info, length);
  message[length] = 0x01;
  HmacSha256(secret, message, length + 1, out);
}

}  // namespace

bool SealedKeys::Derive(std::string_view password, const Header& header, std::string& failure) {
  if (std::string problem = KdfProblem(header.kdf); !problem.empty()) {
    failure = "the container asks for " + problem + ", beyond this program's limits";
    return false;
  }
  platform::SecretBytes secret(kKeySize);
  if (!Argon2id(password.data(), password.size(), header.salt.data(), header.kdf.passes, header.kdf.memoryKiB,
                secret.Data())) {
    failure = "the key derivation failed (not enough memory for " + std::to_string(header.kdf.memoryKiB) + " KiB?)";
    return false;
  }
  DeriveFromSecret(secret.Data());
  return true;
}

void SealedKeys::DeriveFromSecret(const uint8_t secret[kKeySize]) {
  static_assert(sizeof kHeaderKeyInfo < 64 && sizeof kPayloadKeyInfo < 64);
  Expand(secret, kHeaderKeyInfo, keys_.Data());
  Expand(secret, kPayloadKeyInfo, keys_.Data() + kKeySize);
}

std::array<uint8_t, kMacSize> SealedKeys::HeaderTag(const uint8_t* header) const {
  std::array<uint8_t, kMacSize> tag{};
  HmacSha256(HeaderKey(), header, kAuthenticatedSize, tag.data());
  return tag;
}

}  // namespace kvelv::sealed
