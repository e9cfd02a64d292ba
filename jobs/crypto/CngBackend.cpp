// The crypto back end over Windows CNG (bcrypt): AES in CBC mode, SHA-256 and MD5. CNG runs the
// raw CBC chain; the PKCS#7 padding is added and checked here so that a damaged container is
// always told apart from a wrong password the same way. CNG has no counter mode: the keystream
// is CNG's AES in ECB mode over the counter blocks, XORed over the bytes.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "jobs/crypto/CryptoBackend.h"

namespace kvelv::crypto {

namespace {

using platform::SecretBytes;

constexpr size_t kBlockSize = 16;
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);

bool Succeeded(NTSTATUS status) { return status >= 0; }

std::string StatusText(NTSTATUS status) {
  char text[32];
  std::snprintf(text, sizeof text, "status 0x%08lX", static_cast<unsigned long>(status));
  return text;
}

std::string Upper(const std::string& name) {
  std::string out = name;
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::wstring AsciiWide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The CNG algorithm for a digest name as the component gives it; other names are tried as CNG
// names, so a name that exists nowhere fails the same way on every system.
std::wstring DigestAlgorithm(const std::string& name) {
  std::string upper = Upper(name);
  if (upper == "SHA2-256" || upper == "SHA256" || upper == "SHA-256") return BCRYPT_SHA256_ALGORITHM;
  if (upper == "MD5") return BCRYPT_MD5_ALGORITHM;
  return AsciiWide(name);
}

DWORD ObjectProperty(BCRYPT_HANDLE handle, const wchar_t* property) {
  DWORD value = 0;
  ULONG got = 0;
  if (!Succeeded(BCryptGetProperty(handle, property, reinterpret_cast<PUCHAR>(&value), sizeof value, &got, 0)))
    return 0;
  return value;
}

class CngCipher final : public CipherStream {
 public:
  CngCipher(BCRYPT_KEY_HANDLE key, bool encrypt, const std::vector<uint8_t>& iv) : key_(key), encrypt_(encrypt) {
    std::memcpy(iv_, iv.data(), kBlockSize);
  }
  ~CngCipher() override {
    BCryptDestroyKey(key_);
    SecureWipe(iv_, sizeof iv_);
    SecureWipe(held_, sizeof held_);
  }

  bool Update(const uint8_t* in, size_t count, uint8_t* out, size_t& written, std::string& error) override {
    written = 0;
    while (count > 0) {
      // Whole blocks go through CNG. When decrypting, the last block is always held back: it
      // carries the padding that Final removes.
      size_t take = std::min(count, kBlockSize - heldCount_);
      std::memcpy(held_ + heldCount_, in, take);
      heldCount_ += take;
      in += take;
      count -= take;
      if (heldCount_ < kBlockSize || (!encrypt_ && count == 0)) break;
      if (!Transform(held_, kBlockSize, out + written, error)) return false;
      written += kBlockSize;
      heldCount_ = 0;
      // Long runs of whole blocks in one call.
      size_t bulk = count / kBlockSize * kBlockSize;
      if (!encrypt_ && bulk == count && bulk > 0) bulk -= kBlockSize;
      if (bulk > 0) {
        if (!Transform(in, bulk, out + written, error)) return false;
        written += bulk;
        in += bulk;
        count -= bulk;
      }
    }
    return true;
  }

  bool Final(uint8_t* out, size_t& written, bool& badPadding, std::string& error) override {
    written = 0;
    badPadding = false;
    if (encrypt_) {
      const auto pad = static_cast<uint8_t>(kBlockSize - heldCount_);
      std::memset(held_ + heldCount_, pad, pad);
      if (!Transform(held_, kBlockSize, out, error)) return false;
      written = kBlockSize;
      return true;
    }
    if (heldCount_ != kBlockSize) {
      badPadding = true;
      return false;
    }
    uint8_t last[kBlockSize];
    if (!Transform(held_, kBlockSize, last, error)) return false;
    const uint8_t pad = last[kBlockSize - 1];
    bool valid = pad >= 1 && pad <= kBlockSize;
    for (size_t i = kBlockSize - (valid ? pad : 0); valid && i < kBlockSize; ++i) valid = last[i] == pad;
    if (valid) {
      written = kBlockSize - pad;
      std::memcpy(out, last, written);
    }
    SecureWipe(last, sizeof last);
    badPadding = !valid;
    return valid;
  }

 private:
  // CNG updates the vector in place, which carries the chain from one call to the next.
  bool Transform(const uint8_t* in, size_t count, uint8_t* out, std::string& error) {
    ULONG done = 0;
    auto input = const_cast<PUCHAR>(in);
    NTSTATUS status =
        encrypt_ ? BCryptEncrypt(key_, input, static_cast<ULONG>(count), nullptr, iv_, kBlockSize, out,
                                 static_cast<ULONG>(count), &done, 0)
                 : BCryptDecrypt(key_, input, static_cast<ULONG>(count), nullptr, iv_, kBlockSize, out,
                                 static_cast<ULONG>(count), &done, 0);
    if (!Succeeded(status) || done != count) {
      error = std::string(encrypt_ ? "Encryption" : "Decryption") + " failed: " + StatusText(status);
      return false;
    }
    return true;
  }

  BCRYPT_KEY_HANDLE key_;
  bool encrypt_;
  UCHAR iv_[kBlockSize];
  uint8_t held_[kBlockSize] = {};
  size_t heldCount_ = 0;
};

// CNG key objects are not to be used by several threads at once: one lock around the chain.
class CngBlockDecryptor final : public BlockDecryptor {
 public:
  explicit CngBlockDecryptor(BCRYPT_KEY_HANDLE key) : key_(key) {}
  ~CngBlockDecryptor() override { BCryptDestroyKey(key_); }

  bool Decrypt(const uint8_t* previous, const uint8_t* in, size_t blocks, uint8_t* out) const override {
    UCHAR iv[kBlockSize];
    std::memcpy(iv, previous, kBlockSize);
    ULONG written = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    const NTSTATUS status = BCryptDecrypt(key_, const_cast<PUCHAR>(in), static_cast<ULONG>(blocks * kBlockSize),
                                          nullptr, iv, kBlockSize, out, static_cast<ULONG>(blocks * kBlockSize),
                                          &written, 0);
    return Succeeded(status) && written == blocks * kBlockSize;
  }

 private:
  BCRYPT_KEY_HANDLE key_;
  mutable std::mutex mutex_;
};

// AES-256-CTR at any byte of a file. The counter blocks of a piece are encrypted in one call
// (ECB), then XORed over the bytes.
class CngKeystream final : public ArchiveTransform {
 public:
  CngKeystream(BCRYPT_KEY_HANDLE key, SecretBytes iv) : key_(key), iv_(std::move(iv)) {}
  ~CngKeystream() override { BCryptDestroyKey(key_); }

  bool Apply(int64_t position, const uint8_t* in, uint8_t* out, size_t count) const override {
    if (position < 0) return false;
    constexpr size_t kPieceBlocks = 4096;  // 64 KiB of keystream per call
    SecretBytes stream(kPieceBlocks * kBlockSize);
    std::lock_guard<std::mutex> lock(mutex_);
    size_t done = 0;
    while (done < count) {
      const int64_t at = position + static_cast<int64_t>(done);
      const size_t skip = static_cast<size_t>(at % static_cast<int64_t>(kBlockSize));
      const size_t blocks = std::min(kPieceBlocks, (skip + count - done + kBlockSize - 1) / kBlockSize);
      for (size_t b = 0; b < blocks; ++b)
        CounterBlockAt(iv_.Data(), at - static_cast<int64_t>(skip) + static_cast<int64_t>(b * kBlockSize),
                       stream.Data() + b * kBlockSize);
      ULONG written = 0;
      const ULONG length = static_cast<ULONG>(blocks * kBlockSize);
      if (!Succeeded(BCryptEncrypt(key_, stream.Data(), length, nullptr, nullptr, 0, stream.Data(), length, &written, 0)) ||
          written != length)
        return false;
      const size_t n = std::min(count - done, blocks * kBlockSize - skip);
      for (size_t i = 0; i < n; ++i) out[done + i] = static_cast<uint8_t>(in[done + i] ^ stream.Data()[skip + i]);
      done += n;
    }
    return true;
  }

 private:
  BCRYPT_KEY_HANDLE key_;
  SecretBytes iv_;
  mutable std::mutex mutex_;  // one user of the key object at a time
};

class CngBackend final : public Backend {
 public:
  ~CngBackend() override {
    if (aes_ != nullptr) BCryptCloseAlgorithmProvider(aes_, 0);
    if (aesEcb_ != nullptr) BCryptCloseAlgorithmProvider(aesEcb_, 0);
    if (sha256_ != nullptr) BCryptCloseAlgorithmProvider(sha256_, 0);
    if (md5_ != nullptr) BCryptCloseAlgorithmProvider(md5_, 0);
  }

  bool OpenAll(const CryptAlgorithms& names, std::string& error) {
    if (!names.cipher.empty() && !OpenAes(names.cipher, "AES-256-CBC", BCRYPT_CHAIN_MODE_CBC, aes_, error)) return false;
    if (!names.keystream.empty() && !OpenAes(names.keystream, "AES-256-CTR", BCRYPT_CHAIN_MODE_ECB, aesEcb_, error))
      return false;
    return OpenDigest(names.sha256, 32, sha256_, error) && OpenDigest(names.md5, 16, md5_, error);
  }

  SecretBytes Digest(DigestKind kind, const void* data, size_t size) override {
    BCRYPT_ALG_HANDLE algorithm = kind == DigestKind::Sha256 ? sha256_ : md5_;
    if (algorithm == nullptr)
      throw CryptError(std::string(kind == DigestKind::Sha256 ? "SHA-256" : "MD5") + " is not loaded");
    DWORD length = ObjectProperty(algorithm, BCRYPT_HASH_LENGTH);
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    SecretBytes digest(length);
    if (Succeeded(status) && size > 0)
      status = BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0);
    if (Succeeded(status)) status = BCryptFinishHash(hash, digest.Data(), length, 0);
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (!Succeeded(status)) throw CryptError("Hashing failed: " + StatusText(status));
    return digest;
  }

  std::unique_ptr<ArchiveTransform> NewKeystream(SecretBytes key, SecretBytes iv, std::string& error) override {
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = kInvalidParameter;
    if (aesEcb_ != nullptr && key.Size() == kKeystreamKeySize && iv.Size() == kKeystreamIvSize)
      status = BCryptGenerateSymmetricKey(aesEcb_, &handle, nullptr, 0, key.Data(), static_cast<ULONG>(key.Size()), 0);
    if (!Succeeded(status)) {
      if (handle != nullptr) BCryptDestroyKey(handle);
      error = "Cannot set up the keystream: " + StatusText(status);
      return nullptr;
    }
    return std::make_unique<CngKeystream>(handle, std::move(iv));
  }

  bool RandomBytes(uint8_t* data, size_t size) override {
    return Succeeded(BCryptGenRandom(nullptr, data, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  }

  std::unique_ptr<CipherStream> NewCipher(bool encrypt, const SecretBytes& key, const std::vector<uint8_t>& iv,
                                          std::string& error) override {
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = kInvalidParameter;
    if (aes_ != nullptr && key.Size() == 32)
      status = BCryptGenerateSymmetricKey(aes_, &handle, nullptr, 0, const_cast<PUCHAR>(key.Data()),
                                          static_cast<ULONG>(key.Size()), 0);
    if (!Succeeded(status) || iv.size() != kBlockSize) {
      if (handle != nullptr) BCryptDestroyKey(handle);
      error = "Cannot set up the cipher: " + StatusText(status);
      return nullptr;
    }
    return std::make_unique<CngCipher>(handle, encrypt, iv);
  }

  std::unique_ptr<BlockDecryptor> NewBlockDecryptor(const SecretBytes& key, std::string& error) override {
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = kInvalidParameter;
    if (aes_ != nullptr && key.Size() == 32)
      status = BCryptGenerateSymmetricKey(aes_, &handle, nullptr, 0, const_cast<PUCHAR>(key.Data()),
                                          static_cast<ULONG>(key.Size()), 0);
    if (!Succeeded(status)) {
      if (handle != nullptr) BCryptDestroyKey(handle);
      error = "Cannot set up the cipher: " + StatusText(status);
      return nullptr;
    }
    return std::make_unique<CngBlockDecryptor>(handle);
  }

 private:
  // An AES provider in `mode` for the name as the component gives it.
  static bool OpenAes(const std::string& name, const char* expected, const wchar_t* mode, BCRYPT_ALG_HANDLE& handle,
                      std::string& error) {
    if (Upper(name) != expected) {
      error = "Cannot open a provider for the cipher " + name + ": only " + expected + " is available";
      return false;
    }
    NTSTATUS status = BCryptOpenAlgorithmProvider(&handle, BCRYPT_AES_ALGORITHM, nullptr, 0);
    if (!Succeeded(status)) {
      handle = nullptr;
      error = "Cannot open the provider for the cipher " + name + ": " + StatusText(status);
      return false;
    }
    const auto bytes = static_cast<ULONG>((std::wcslen(mode) + 1) * sizeof(wchar_t));
    status = BCryptSetProperty(handle, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                               bytes, 0);
    if (!Succeeded(status) || ObjectProperty(handle, BCRYPT_BLOCK_LENGTH) != kBlockSize) {
      error = "The cipher " + name + " is not a 256-bit block cipher in the mode it needs";
      return false;
    }
    return true;
  }

  static bool OpenDigest(const std::string& name, DWORD length, BCRYPT_ALG_HANDLE& handle, std::string& error) {
    if (name.empty()) return true;
    NTSTATUS status = BCryptOpenAlgorithmProvider(&handle, DigestAlgorithm(name).c_str(), nullptr, 0);
    if (!Succeeded(status)) {
      handle = nullptr;
      error = "Cannot open the provider for the digest " + name + ": " + StatusText(status);
      return false;
    }
    if (ObjectProperty(handle, BCRYPT_HASH_LENGTH) != length) {
      error = "The digest " + name + " does not give " + std::to_string(length) + " bytes";
      return false;
    }
    return true;
  }

  BCRYPT_ALG_HANDLE aes_ = nullptr;
  BCRYPT_ALG_HANDLE aesEcb_ = nullptr;
  BCRYPT_ALG_HANDLE sha256_ = nullptr;
  BCRYPT_ALG_HANDLE md5_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> Backend::Open(const CryptAlgorithms& names, std::string& error) {
  auto backend = std::make_unique<CngBackend>();
  if (!backend->OpenAll(names, error)) return nullptr;
  return backend;
}

void SecureWipe(void* data, size_t size) {
  if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

// CNG has no comparison of its own: every byte is looked at, and the differences are only
// gathered, so the time does not depend on where the first one is.
bool EqualInConstantTime(const void* a, const void* b, size_t size) {
  const volatile uint8_t* x = static_cast<const volatile uint8_t*>(a);
  const volatile uint8_t* y = static_cast<const volatile uint8_t*>(b);
  uint8_t difference = 0;
  for (size_t i = 0; i < size; ++i) difference = static_cast<uint8_t>(difference | (x[i] ^ y[i]));
  return difference == 0;
}

}  // namespace kvelv::crypto
