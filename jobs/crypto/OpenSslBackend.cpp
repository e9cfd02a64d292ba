// The crypto back end over OpenSSL 3 libcrypto (EVP).
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "jobs/crypto/CryptoBackend.h"

namespace kvelv::crypto {

namespace {

using platform::SecretBytes;

constexpr int kBlockSize = 16;

// The oldest queued library error as text, and the queue emptied.
std::string LibraryError() {
  unsigned long code = ERR_get_error();
  std::string text = "unknown reason";
  if (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text = buffer;
  }
  ERR_clear_error();
  return text;
}

class EvpCipher final : public CipherStream {
 public:
  EvpCipher(EVP_CIPHER_CTX* ctx, bool encrypt) : ctx_(ctx), encrypt_(encrypt) {}
  ~EvpCipher() override { EVP_CIPHER_CTX_free(ctx_); }

  bool Update(const uint8_t* in, size_t count, uint8_t* out, size_t& written, std::string& error) override {
    int length = 0;
    written = 0;
    if (EVP_CipherUpdate(ctx_, out, &length, in, static_cast<int>(count)) != 1) {
      error = std::string(encrypt_ ? "Encryption" : "Decryption") + " failed: " + LibraryError();
      return false;
    }
    written = static_cast<size_t>(length);
    return true;
  }

  bool Final(uint8_t* out, size_t& written, bool& badPadding, std::string& error) override {
    int length = 0;
    written = 0;
    badPadding = false;
    if (EVP_CipherFinal_ex(ctx_, out, &length) != 1) {
      if (!encrypt_) {
        ERR_clear_error();
        badPadding = true;
        return false;
      }
      error = "Encryption failed: " + LibraryError();
      return false;
    }
    written = static_cast<size_t>(length);
    return true;
  }

 private:
  EVP_CIPHER_CTX* ctx_;
  bool encrypt_;
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)>;

class EvpBlockDecryptor final : public BlockDecryptor {
 public:
  EvpBlockDecryptor(const EVP_CIPHER* cipher, const SecretBytes& key) : cipher_(cipher), key_(key.Clone()) {}

  bool Decrypt(const uint8_t* previous, const uint8_t* in, size_t blocks, uint8_t* out) const override {
    // A context per call: calls come from several threads, and setting one up costs little
    // next to the blocks it decrypts.
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || EVP_DecryptInit_ex2(ctx.get(), cipher_, key_.Data(), previous, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
      ERR_clear_error();
      return false;
    }
    int length = 0;
    const bool ok = EVP_DecryptUpdate(ctx.get(), out, &length, in, static_cast<int>(blocks * kBlockSize)) == 1 &&
                    static_cast<size_t>(length) == blocks * kBlockSize;
    if (!ok) ERR_clear_error();
    return ok;
  }

 private:
  const EVP_CIPHER* cipher_;
  SecretBytes key_;
};

// AES-256-CTR at any byte of a file: a context per call, set to the counter block of the
// position and moved on within the block.
class EvpKeystream final : public ArchiveTransform {
 public:
  EvpKeystream(const EVP_CIPHER* cipher, SecretBytes key, SecretBytes iv)
      : cipher_(cipher), key_(std::move(key)), iv_(std::move(iv)) {}

  bool Apply(int64_t position, const uint8_t* in, uint8_t* out, size_t count) const override {
    if (position < 0) return false;
    if (count == 0) return true;
    uint8_t counter[kBlockSize];
    CounterBlockAt(iv_.Data(), position, counter);
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    bool ok = ctx && EVP_EncryptInit_ex2(ctx.get(), cipher_, key_.Data(), counter, nullptr) == 1;
    int length = 0;
    if (const int skip = static_cast<int>(position % kBlockSize); ok && skip != 0) {
      uint8_t unused[kBlockSize] = {};
      ok = EVP_EncryptUpdate(ctx.get(), unused, &length, unused, skip) == 1;
      OPENSSL_cleanse(unused, sizeof unused);
    }
    for (size_t done = 0; ok && done < count;) {
      const int piece = static_cast<int>(std::min<size_t>(count - done, INT_MAX / 2));
      ok = EVP_EncryptUpdate(ctx.get(), out + done, &length, in + done, piece) == 1 && length == piece;
      done += static_cast<size_t>(piece);
    }
    if (!ok) ERR_clear_error();
    return ok;
  }

 private:
  const EVP_CIPHER* cipher_;
  SecretBytes key_;
  SecretBytes iv_;
};

class OpenSslBackend final : public Backend {
 public:
  ~OpenSslBackend() override {
    EVP_CIPHER_free(cipher_);
    EVP_CIPHER_free(keystream_);
    EVP_MD_free(sha256_);
    EVP_MD_free(md5_);
  }

  bool Fetch(const CryptAlgorithms& names, std::string& error) {
    if (!names.cipher.empty()) {
      cipher_ = EVP_CIPHER_fetch(nullptr, names.cipher.c_str(), nullptr);
      if (cipher_ == nullptr) {
        error = "Cannot fetch the cipher " + names.cipher + ": " + LibraryError();
        return false;
      }
      // The container format depends on these; a substitute cipher must not slip in.
      if (EVP_CIPHER_get_key_length(cipher_) != 32 || EVP_CIPHER_get_iv_length(cipher_) != kBlockSize ||
          EVP_CIPHER_get_block_size(cipher_) != kBlockSize || EVP_CIPHER_get_mode(cipher_) != EVP_CIPH_CBC_MODE) {
        error = "The cipher " + names.cipher + " is not a 256-bit block cipher in CBC mode";
        return false;
      }
    }
    if (!names.keystream.empty()) {
      keystream_ = EVP_CIPHER_fetch(nullptr, names.keystream.c_str(), nullptr);
      if (keystream_ == nullptr) {
        error = "Cannot fetch the cipher " + names.keystream + ": " + LibraryError();
        return false;
      }
      if (EVP_CIPHER_get_key_length(keystream_) != static_cast<int>(kKeystreamKeySize) ||
          EVP_CIPHER_get_iv_length(keystream_) != static_cast<int>(kKeystreamIvSize) ||
          EVP_CIPHER_get_mode(keystream_) != EVP_CIPH_CTR_MODE) {
        error = "The cipher " + names.keystream + " is not a 256-bit block cipher in counter mode";
        return false;
      }
    }
    return FetchDigest(names.sha256, 32, sha256_, error) && FetchDigest(names.md5, 16, md5_, error);
  }

  SecretBytes Digest(DigestKind kind, const void* data, size_t size) override {
    const EVP_MD* md = kind == DigestKind::Sha256 ? sha256_ : md5_;
    if (md == nullptr) throw CryptError(std::string(kind == DigestKind::Sha256 ? "SHA-256" : "MD5") + " is not loaded");
    SecretBytes digest(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest.Data(), &length, md, nullptr) != 1 || length != digest.Size())
      throw CryptError("Hashing failed: " + LibraryError());
    return digest;
  }

  std::unique_ptr<CipherStream> NewCipher(bool encrypt, const SecretBytes& key, const std::vector<uint8_t>& iv,
                                          std::string& error) override {
    if (cipher_ == nullptr || key.Size() != 32 || iv.size() != kBlockSize) {
      error = "Cannot set up the cipher: no AES-256-CBC with a 256-bit key and a 128-bit vector";
      return nullptr;
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr || EVP_CipherInit_ex2(ctx, cipher_, key.Data(), iv.data(), encrypt ? 1 : 0, nullptr) != 1) {
      EVP_CIPHER_CTX_free(ctx);
      error = "Cannot set up the cipher: " + LibraryError();
      return nullptr;
    }
    return std::make_unique<EvpCipher>(ctx, encrypt);
  }

  std::unique_ptr<BlockDecryptor> NewBlockDecryptor(const SecretBytes& key, std::string& error) override {
    if (cipher_ == nullptr || key.Size() != 32) {
      error = "Cannot set up the cipher: the key is not 256 bits";
      return nullptr;
    }
    return std::make_unique<EvpBlockDecryptor>(cipher_, key);
  }

  std::unique_ptr<ArchiveTransform> NewKeystream(SecretBytes key, SecretBytes iv, std::string& error) override {
    if (keystream_ == nullptr || key.Size() != kKeystreamKeySize || iv.Size() != kKeystreamIvSize) {
      error = "Cannot set up the keystream: no AES-256-CTR with a 256-bit key and a 128-bit counter";
      return nullptr;
    }
    return std::make_unique<EvpKeystream>(keystream_, std::move(key), std::move(iv));
  }

  bool RandomBytes(uint8_t* data, size_t size) override {
    if (size > static_cast<size_t>(INT_MAX)) return false;
    if (RAND_bytes(data, static_cast<int>(size)) == 1) return true;
    ERR_clear_error();
    return false;
  }

 private:
  static bool FetchDigest(const std::string& name, int length, EVP_MD*& md, std::string& error) {
    if (name.empty()) return true;
    md = EVP_MD_fetch(nullptr, name.c_str(), nullptr);
    if (md == nullptr) {
      error = "Cannot fetch the digest " + name + ": " + LibraryError();
      return false;
    }
    if (EVP_MD_get_size(md) != length) {
      error = "The digest " + name + " does not give " + std::to_string(length) + " bytes";
      return false;
    }
    return true;
  }

  EVP_CIPHER* cipher_ = nullptr;
  EVP_CIPHER* keystream_ = nullptr;
  EVP_MD* sha256_ = nullptr;
  EVP_MD* md5_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> Backend::Open(const CryptAlgorithms& names, std::string& error) {
  auto backend = std::make_unique<OpenSslBackend>();
  if (!backend->Fetch(names, error)) return nullptr;
  return backend;
}

void SecureWipe(void* data, size_t size) {
  if (data != nullptr && size != 0) OPENSSL_cleanse(data, size);
}

bool EqualInConstantTime(const void* a, const void* b, size_t size) { return CRYPTO_memcmp(a, b, size) == 0; }

}  // namespace kvelv::crypto
