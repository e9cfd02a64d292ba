#pragma once
// The crypto library under the crypto component: OpenSSL on POSIX, CNG (bcrypt) on Windows.
// CMake picks one implementation; the component above it is the same everywhere, so both
// produce the same container bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/CryptComponent.h"

namespace kvelv::crypto {

enum class DigestKind { Sha256, Md5 };

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
  // Opens the algorithms named (crypto-library names, see CryptAlgorithms); nullptr with `error`
  // when any is missing or not what the container format needs.
  static std::unique_ptr<Backend> Open(const CryptAlgorithms& names, std::string& error);

  // Throws CryptError when hashing fails.
  virtual std::vector<uint8_t> Digest(DigestKind kind, const void* data, size_t size) = 0;
  // nullptr with `error` when the cipher cannot be set up with this 32-byte key and 16-byte vector.
  virtual std::unique_ptr<CipherStream> NewCipher(bool encrypt, const std::vector<uint8_t>& key,
                                                  const std::vector<uint8_t>& iv, std::string& error) = 0;
  // nullptr with `error` when the cipher cannot be set up with this 32-byte key.
  virtual std::unique_ptr<BlockDecryptor> NewBlockDecryptor(const std::vector<uint8_t>& key, std::string& error) = 0;
};

// Overwrites memory that held secrets in a way the compiler cannot drop.
void SecureWipe(void* data, size_t size);

}  // namespace kvelv::crypto
