#pragma once
// The keys of a sealed container: Argon2id turns the password (its UTF-8 bytes) and the header's
// salt into one secret, from which HKDF-Expand (HMAC-SHA-256) derives the key of the header's
// tag and the key of the chunks. The secret and both keys live in secret storage
// (platform/SecretBytes.h: locked memory, left out of core dumps, wiped when they go).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobs/sealed/SealedFormat.h"
#include "platform/SecretBytes.h"

namespace kvelv::sealed {

class SealedKeys {
 public:
  SealedKeys() : keys_(2 * kKeySize) {}
  SealedKeys(const SealedKeys&) = delete;
  SealedKeys& operator=(const SealedKeys&) = delete;

  // Checks the header's parameters against the limits first; false with `failure` when they
  // are out of range or the derivation fails (memory).
  bool Derive(std::string_view password, const Header& header, std::string& failure);
  // From a known Argon2id output (tests, fuzzing).
  void DeriveFromSecret(const uint8_t secret[kKeySize]);

  // The tag of the header's first kAuthenticatedSize bytes.
  std::array<uint8_t, kMacSize> HeaderTag(const uint8_t* header) const;
  const uint8_t* Payload() const { return keys_.Data() + kKeySize; }

 private:
  const uint8_t* HeaderKey() const { return keys_.Data(); }

  platform::SecretBytes keys_;  // the header's key, then the payload's
};

// The labels of HKDF-Expand, as docs/FORMAT.md gives them.
inline constexpr const char kHeaderKeyInfo[] = "orvkvelv format 2 header key";
inline constexpr const char kPayloadKeyInfo[] = "orvkvelv format 2 payload key";

}  // namespace kvelv::sealed
