#pragma once
// The crypto library under the crypto component: OpenSSL on POSIX, CNG (bcrypt) on Windows.
// CMake picks one implementation; the component above it is the same everywhere, so both
// produce the same container bytes. Keys go in and digests come out as SecretBytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/CryptComponent.h"
#include "platform/SecretBytes.h"
#include "zip/ArchiveTransform.h"

namespace kvelv::crypto {

enum class DigestKind { Sha256, Md5 };

inline constexpr size_t kKeystreamKeySize = 32;  // AES-256
inline constexpr size_t kKeystreamIvSize = 16;   // the first counter block

// AES-256-CBC with PKCS#7 padding over a stream of chunks.
class CipherStream {
 public:
  virtual ~CipherStream() = default;
  // Transforms `count` bytes; `out` must hold `count` + 16 bytes. False with `error` on failure.
  virtual bool Update(const uint8_t* in, size_t count, uint8_t* out, size_t& written, std::string& error) = 0;
  // The last block(s): padding added when encrypting, checked and removed when decrypting
  // (`badPadding` tells that case apart). `out` must hold 32 bytes.
  virtual bool Final(uint8_t* out, size_t& written, bool& badPadding, std::string& error) = 0;
};

// AES-256-CBC decryption of whole blocks, without padding, for reading a container at any block:
// a block decrypts from its ciphertext and the ciphertext block before it.
class BlockDecryptor {
 public:
  virtual ~BlockDecryptor() = default;
  // Decrypts `blocks` 16-byte blocks of `in` into `out`; `previous` is the ciphertext block
  // before the first one (the container's vector for block 0). Safe to call from several threads
  // at once. False when the library fails.
  virtual bool Decrypt(const uint8_t* previous, const uint8_t* in, size_t blocks, uint8_t* out) const = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Opens the algorithms named (crypto-library names, see CryptAlgorithms; an empty name is not
  // opened); nullptr with `error` when any is missing or not what the container format needs.
  static std::unique_ptr<Backend> Open(const CryptAlgorithms& names, std::string& error);

  // Throws CryptError when hashing fails or the digest was not opened.
  virtual platform::SecretBytes Digest(DigestKind kind, const void* data, size_t size) = 0;
  // nullptr with `error` when the cipher cannot be set up with this 32-byte key and 16-byte vector.
  virtual std::unique_ptr<CipherStream> NewCipher(bool encrypt, const platform::SecretBytes& key,
                                                  const std::vector<uint8_t>& iv, std::string& error) = 0;
  // nullptr with `error` when the cipher cannot be set up with this 32-byte key.
  virtual std::unique_ptr<BlockDecryptor> NewBlockDecryptor(const platform::SecretBytes& key, std::string& error) = 0;
  // AES-256 in counter mode (the 16-byte counter block counts up from `iv` as one big-endian
  // number), positioned by the byte: XORs the keystream at a file position over the bytes.
  // Takes `key` and `iv` over. nullptr with `error` when it cannot be set up.
  virtual std::unique_ptr<ArchiveTransform> NewKeystream(platform::SecretBytes key, platform::SecretBytes iv,
                                                         std::string& error) = 0;
  // Fills `data` from the system's generator; false when it fails.
  virtual bool RandomBytes(uint8_t* data, size_t size) = 0;
};

// Overwrites memory that held secrets in a way the compiler cannot drop.
void SecureWipe(void* data, size_t size);

// Whether the `size` bytes at `a` and `b` are equal, in a time that does not depend on where
// they differ.
bool EqualInConstantTime(const void* a, const void* b, size_t size);

// The counter block for the byte at `position`: `iv` + position / 16, in 128-bit big-endian
// arithmetic, as counter mode counts from one block to the next.
inline void CounterBlockAt(const uint8_t* iv, int64_t position, uint8_t* counter) {
  uint64_t add = static_cast<uint64_t>(position) / 16;
  unsigned carry = 0;
  for (int i = 15; i >= 0; --i) {
    const unsigned sum = iv[i] + static_cast<unsigned>(add & 0xFF) + carry;
    counter[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
    add >>= 8;
  }
}

}  // namespace kvelv::crypto
