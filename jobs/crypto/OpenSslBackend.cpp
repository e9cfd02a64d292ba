// The crypto back end over OpenSSL 3 libcrypto (EVP).
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "jobs/crypto/CryptoBackend.h"

namespace kvelv::crypto {

namespace {

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

class EvpBlockDecryptor final : public BlockDecryptor {
 public:
  EvpBlockDecryptor(const EVP_CIPHER* cipher, const std::vector<uint8_t>& key) : cipher_(cipher), key_(key) {}
  ~EvpBlockDecryptor() override { OPENSSL_cleanse(key_.data(), key_.size()); }

  bool Decrypt(const uint8_t* previous, const uint8_t* in, size_t blocks, uint8_t* out) const override {
    // A context per call: calls come from several threads, and setting one up costs little
    // next to the blocks it decrypts.
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || EVP_DecryptInit_ex2(ctx.get(), cipher_, key_.data(), previous, nullptr) != 1 ||
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
  std::vector<uint8_t> key_;
};

class OpenSslBackend final : public Backend {
 public:
  ~OpenSslBackend() override {
    EVP_CIPHER_free(cipher_);
    EVP_MD_free(sha256_);
    EVP_MD_free(md5_);
  }

  bool Fetch(const CryptAlgorithms& names, std::string& error) {
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
    sha256_ = EVP_MD_fetch(nullptr, names.sha256.c_str(), nullptr);
    if (sha256_ == nullptr) {
      error = "Cannot fetch the digest " + names.sha256 + ": " + LibraryError();
      return false;
    }
    md5_ = EVP_MD_fetch(nullptr, names.md5.c_str(), nullptr);
    if (md5_ == nullptr) {
      error = "Cannot fetch the digest " + names.md5 + ": " + LibraryError();
      return false;
    }
    return true;
  }

  std::vector<uint8_t> Digest(DigestKind kind, const void* data, size_t size) override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, kind == DigestKind::Sha256 ? sha256_ : md5_, nullptr) != 1)
      throw CryptError("Hashing failed: " + LibraryError());
    std::vector<uint8_t> result(digest, digest + length);
    OPENSSL_cleanse(digest, sizeof digest);
    return result;
  }

  std::unique_ptr<CipherStream> NewCipher(bool encrypt, const std::vector<uint8_t>& key,
                                          const std::vector<uint8_t>& iv, std::string& error) override {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr || EVP_CipherInit_ex2(ctx, cipher_, key.data(), iv.data(), encrypt ? 1 : 0, nullptr) != 1) {
      EVP_CIPHER_CTX_free(ctx);
      error = "Cannot set up the cipher: " + LibraryError();
      return nullptr;
    }
    return std::make_unique<EvpCipher>(ctx, encrypt);
  }

  std::unique_ptr<BlockDecryptor> NewBlockDecryptor(const std::vector<uint8_t>& key, std::string& error) override {
    if (key.size() != 32) {
      error = "Cannot set up the cipher: the key is not 256 bits";
      return nullptr;
    }
    return std::make_unique<EvpBlockDecryptor>(cipher_, key);
  }

 private:
  EVP_CIPHER* cipher_ = nullptr;
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

}  // namespace kvelv::crypto
