#include "jobs/CryptComponent.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "jobs/ContainerSink.h"
#include "jobs/ContainerSource.h"
#include "jobs/crypto/CryptoBackend.h"
#include "platform/CodePages.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace kvelv {

namespace {

constexpr int kBlockSize = 16;
constexpr int kIvSize = 16;
// Chunk read per step: memory use stays the same whatever the file size.
constexpr int64_t kChunkSize = 1 << 20;
constexpr const char* kCancelled = "cancelled";

std::string Lower(const std::string& name) {
  std::string out = name;
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

using platform::SecretBytes;

void Wipe(std::vector<uint8_t>& v) {
  crypto::SecureWipe(v.data(), v.size());
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string ToBase64(const uint8_t* bytes, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    size_t left = size - i;
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= bytes[i + 2];
    out += kBase64Alphabet[(group >> 18) & 63];
    out += kBase64Alphabet[(group >> 12) & 63];
    out += left > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=';
    out += left > 2 ? kBase64Alphabet[group & 63] : '=';
  }
  return out;
}

std::vector<uint8_t> FromBase64(const std::string& text) {
  if (text.size() % 4 != 0) throw CryptError("Base64 text must have a length that is a multiple of 4");
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t group = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t value = 0;
    if (i < text.size() - padding) {
      const char* at = text[i] == '\0' ? nullptr : std::strchr(kBase64Alphabet, text[i]);
      if (at == nullptr) throw CryptError("Invalid character in Base64 text");
      value = static_cast<uint32_t>(at - kBase64Alphabet);
    }
    group = (group << 6) | value;
    if (i % 4 == 3) {
      out.push_back(static_cast<uint8_t>(group >> 16));
      out.push_back(static_cast<uint8_t>(group >> 8));
      out.push_back(static_cast<uint8_t>(group));
      group = 0;
    }
  }
  out.erase(out.end() - static_cast<std::ptrdiff_t>(padding), out.end());
  return out;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<uint8_t> FromHex(const std::string& text) {
  if (text.size() % 2 != 0) throw CryptError("Hex text must have an even number of digits");
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexValue(text[i]);
    int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      Wipe(out);
      throw CryptError("Invalid character in hex text");
    }
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return out;
}

std::vector<uint8_t> Decode(const std::string& text, const std::string& encoding) {
  std::string name = Lower(encoding);
  if (name == "hex") return FromHex(text);
  if (name == "base64") return FromBase64(text);
  if (name == "ascii") {
    for (unsigned char c : text)
      if (c >= 0x80) throw CryptError("ASCII text contains a character outside ASCII");
    return {text.begin(), text.end()};
  }
  throw CryptError("Unsupported encoding \"" + encoding + "\"");
}

}  // namespace

struct CryptComponent::Impl {
  std::unique_ptr<crypto::Backend> backend;

  std::string cryptAlgorithm;
  std::string cipherMode;
  std::string hashAlgorithm;
  std::string charset;
  std::string encodingMode;
  int keyBits = 256;
  SecretBytes key;
  std::vector<uint8_t> iv;
  std::string failureText;
  std::function<bool(int64_t done, int64_t total)> onProgress;
  bool cancelled = false;

  crypto::DigestKind Digest() const {
    std::string name = Lower(hashAlgorithm);
    if (name == "sha256") return crypto::DigestKind::Sha256;
    if (name == "md5") return crypto::DigestKind::Md5;
    if (name.empty()) throw CryptError("No hash algorithm is set");
    throw CryptError("Unsupported hash algorithm \"" + hashAlgorithm + "\"");
  }

  // The bytes the text is hashed as.
  SecretBytes TextBytes(const SecretBytes& text) const {
    std::string name = Lower(charset);
    if (name == "windows-1252") return platform::AnsiFromUtf8(text);
    if (name == "utf-8") return text.Clone();
    if (name.empty()) {
      bool allMapped = false;
      SecretBytes ansi = platform::AnsiFromUtf8(text, &allMapped);
      if (allMapped) return ansi;
      return text.Clone();
    }
    throw CryptError("Unsupported character set \"" + charset + "\"");
  }

  // Empty when the cipher settings, key and vector are usable; else what is wrong.
  std::string CipherProblem() const {
    if (Lower(cryptAlgorithm) != "aes")
      return cryptAlgorithm.empty() ? "No encryption algorithm is set"
                                    : "Unsupported encryption algorithm \"" + cryptAlgorithm + "\"";
    if (Lower(cipherMode) != "cbc")
      return cipherMode.empty() ? "No cipher mode is set" : "Unsupported cipher mode \"" + cipherMode + "\"";
    if (keyBits != 256) return "Unsupported key length of " + std::to_string(keyBits) + " bits";
    if (key.Size() != 32) return "No key of 256 bits is loaded";
    if (iv.size() != kIvSize) return "No initialisation vector is loaded";
    return {};
  }

  int Fail(std::string text) {
    failureText = std::move(text);
    return 0;
  }

  // False when the handler asks to stop; the call then fails as cancelled.
  bool KeepGoing(int64_t done, int64_t total) {
    if (!onProgress || onProgress(done, total)) return true;
    cancelled = true;
    return false;
  }

  // Reads up to `count` plaintext or ciphertext bytes; 0 at the end, -1 on failure with `error`.
  using Reader = std::function<int64_t(uint8_t* buffer, int64_t count, std::string& error)>;
  int TransformFile(bool encrypt, const std::string& source, const std::string& target);
  // `sourceSize` is the size expected of what `read` gives, for the progress handler.
  int Transform(bool encrypt, const Reader& read, int64_t sourceSize, const std::string& source,
                const std::string& target);
  // A sink for `target` with the cipher set up; nullptr on failure (failureText says why).
  std::unique_ptr<ContainerSink> OpenSink(bool encrypt, const std::string& target);
  // Runs what `read` gives through `sink` after what it took already, then finishes and commits
  // it; 1, or 0 with failureText (and `cancelled` when the progress handler said stop).
  int Complete(ContainerSink& sink, bool encrypt, const Reader& read, int64_t sourceSize, const std::string& source);
};

namespace {

std::string Reason(const std::error_code& ec, const char* fallback) {
  return ec ? ec.message() : std::string(fallback);
}

// Clears a buffer that may hold plaintext when it goes out of scope.
struct WipedBuffer {
  explicit WipedBuffer(size_t size) : bytes(size) {}
  ~WipedBuffer() { Wipe(bytes); }
  std::vector<uint8_t> bytes;
};

}  // namespace

int CryptComponent::Impl::TransformFile(bool encrypt, const std::string& source, const std::string& target) {
  failureText.clear();
  cancelled = false;
  if (std::string problem = CipherProblem(); !problem.empty()) return Fail(problem);

  std::error_code ec;
  platform::File in = platform::File::Open(source, platform::OpenMode::ReadDenyNone, ec);
  if (!in.IsOpen()) return Fail("Cannot open \"" + source + "\": " + Reason(ec, "unknown error"));
  const int64_t sourceSize = std::max<int64_t>(in.Size(), 0);
  if (!encrypt) {
    // A regular container has a known size; reject a damaged one before creating anything.
    int64_t size = in.Size();
    if (size == 0) return Fail("The encrypted file \"" + source + "\" is empty");
    if (size > 0 && size % kBlockSize != 0)
      return Fail("The encrypted file \"" + source + "\" is damaged: its length of " + std::to_string(size) +
                  " bytes is not a multiple of 16");
  }
  const Reader read = [&](uint8_t* buffer, int64_t count, std::string& error) {
    const int64_t got = in.Read(buffer, count);
    if (got < 0) error = "Cannot read \"" + source + "\": " + Reason(in.LastError(), "read error");
    return got;
  };
  return Transform(encrypt, read, sourceSize, source, target);
}

std::unique_ptr<ContainerSink> CryptComponent::Impl::OpenSink(bool encrypt, const std::string& target) {
  std::string error;
  std::unique_ptr<crypto::CipherStream> cipher = backend->NewCipher(encrypt, key, iv, error);
  if (!cipher) {
    Fail(error);
    return nullptr;
  }
  std::unique_ptr<ContainerSink> sink = ContainerSink::Open(std::move(cipher), target, encrypt, error);
  if (!sink) Fail(error);
  return sink;
}

int CryptComponent::Impl::Transform(bool encrypt, const Reader& read, int64_t sourceSize, const std::string& source,
                                    const std::string& target) {
  std::unique_ptr<ContainerSink> sink = OpenSink(encrypt, target);
  if (!sink) return 0;
  return Complete(*sink, encrypt, read, sourceSize, source);
}

int CryptComponent::Impl::Complete(ContainerSink& sink, bool encrypt, const Reader& read, int64_t sourceSize,
                                   const std::string& source) {
  WipedBuffer input(static_cast<size_t>(kChunkSize));
  std::string error;
  int64_t total = sink.Taken();
  for (;;) {
    int64_t got = read(input.bytes.data(), kChunkSize, error);
    if (got < 0) return Fail(error);
    if (got == 0) break;
    total += got;
    if (!sink.Write(input.bytes.data(), static_cast<size_t>(got), error)) return Fail(error);
    if (!KeepGoing(total, std::max(sourceSize, total))) return Fail(kCancelled);
  }

  if (!encrypt && (total == 0 || total % kBlockSize != 0))
    return Fail("The encrypted file \"" + source + "\" is damaged: its length of " + std::to_string(total) +
                " bytes is not a positive multiple of 16");
  bool badPadding = false;
  if (!sink.Finish(error, badPadding)) {
    if (badPadding) return Fail("wrong password or damaged file (the padding is not valid)");
    return Fail(error);
  }
  // The last moment at which the old target can still stay as it was.
  if (!KeepGoing(total, total)) return Fail(kCancelled);
  if (!sink.Commit(error)) return Fail(error);
  return 1;
}

CryptComponent::CryptComponent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CryptComponent::~CryptComponent() = default;

std::unique_ptr<CryptComponent> CryptComponent::Create(std::string* error) {
  return Create(CryptAlgorithms{}, error);
}

std::unique_ptr<CryptComponent> CryptComponent::Create(const CryptAlgorithms& names, std::string* error) {
  auto fail = [&](const std::string& reason) -> std::unique_ptr<CryptComponent> {
    if (error != nullptr) *error = reason;
    return nullptr;
  };
  auto impl = std::make_unique<Impl>();
  std::string reason;
  impl->backend = crypto::Backend::Open(names, reason);
  if (!impl->backend) return fail(reason);
  return std::unique_ptr<CryptComponent>(new CryptComponent(std::move(impl)));
}

void CryptComponent::SetCryptAlgorithm(const std::string& name) { impl_->cryptAlgorithm = name; }
void CryptComponent::SetCipherMode(const std::string& name) { impl_->cipherMode = name; }
void CryptComponent::SetHashAlgorithm(const std::string& name) { impl_->hashAlgorithm = name; }
void CryptComponent::SetCharset(const std::string& name) { impl_->charset = name; }
void CryptComponent::SetEncodingMode(const std::string& name) { impl_->encodingMode = name; }
void CryptComponent::SetKeyBits(int bits) { impl_->keyBits = bits; }
std::string CryptComponent::FailureText() const { return impl_->failureText; }
void CryptComponent::SetProgressHandler(std::function<bool(int64_t done, int64_t total)> handler) {
  impl_->onProgress = std::move(handler);
}
bool CryptComponent::Cancelled() const { return impl_->cancelled; }

SecretBytes CryptComponent::DigestText(const SecretBytes& text) {
  crypto::DigestKind kind = impl_->Digest();
  const SecretBytes bytes = impl_->TextBytes(text);
  return impl_->backend->Digest(kind, bytes.Data(), bytes.Size());
}

std::string CryptComponent::DigestTextEncoded(const SecretBytes& text) {
  if (impl_->encodingMode.empty()) throw CryptError("No encoding mode is set");
  const SecretBytes digest = DigestText(text);
  std::string name = Lower(impl_->encodingMode);
  if (name == "hex") return ToHex(digest.Data(), digest.Size());
  if (name == "base64") return ToBase64(digest.Data(), digest.Size());
  std::vector<uint8_t> bytes(digest.Data(), digest.Data() + digest.Size());
  std::string encoded;
  try {
    encoded = EncodeBytes(bytes, impl_->encodingMode);
  } catch (...) {
    Wipe(bytes);
    throw;
  }
  Wipe(bytes);
  return encoded;
}

std::string CryptComponent::EncodeBytes(const std::vector<uint8_t>& bytes, const std::string& encoding) {
  std::string name = Lower(encoding);
  if (name == "hex") return ToHex(bytes.data(), bytes.size());
  if (name == "base64") return ToBase64(bytes.data(), bytes.size());
  if (name == "ascii") {
    for (uint8_t b : bytes)
      if (b >= 0x80) throw CryptError("The bytes contain a value outside ASCII");
    return {bytes.begin(), bytes.end()};
  }
  throw CryptError("Unsupported encoding \"" + encoding + "\"");
}

void CryptComponent::LoadKey(const std::string& text, const std::string& encoding) {
  if (impl_->keyBits != 256)
    throw CryptError("Unsupported key length of " + std::to_string(impl_->keyBits) + " bits");
  std::vector<uint8_t> decoded = Decode(text, encoding);
  SecretBytes key(decoded.data(), decoded.size());
  Wipe(decoded);
  LoadKey(std::move(key));
}

void CryptComponent::LoadKey(SecretBytes key) {
  if (impl_->keyBits != 256)
    throw CryptError("Unsupported key length of " + std::to_string(impl_->keyBits) + " bits");
  if (key.Size() != static_cast<size_t>(impl_->keyBits / 8))
    throw CryptError("The key must be " + std::to_string(impl_->keyBits / 8) + " bytes long, not " +
                     std::to_string(key.Size()));
  impl_->key = std::move(key);
}

void CryptComponent::LoadIV(const std::string& text, const std::string& encoding) {
  std::vector<uint8_t> iv = Decode(text, encoding);
  if (iv.size() != kIvSize)
    throw CryptError("The initialisation vector must be 16 bytes long, not " + std::to_string(iv.size()));
  impl_->iv = std::move(iv);
}

// Failures are results here, even running out of memory.
int CryptComponent::EncryptFileTo(const std::string& source, const std::string& target) {
  try {
    return impl_->TransformFile(true, source, target);
  } catch (const std::exception& e) {
    return impl_->Fail(std::string("Encryption failed: ") + e.what());
  }
}

int CryptComponent::EncryptSourceTo(const ArchiveSource& source, const std::string& target) {
  std::unique_ptr<ContainerSink> sink = OpenContainerSink(target);
  return sink ? FinishContainer(*sink, source) : 0;
}

std::unique_ptr<ContainerSink> CryptComponent::OpenContainerSink(const std::string& target) {
  impl_->failureText.clear();
  try {
    if (std::string problem = impl_->CipherProblem(); !problem.empty()) {
      impl_->Fail(problem);
      return nullptr;
    }
    return impl_->OpenSink(true, target);
  } catch (const std::exception& e) {
    impl_->Fail(std::string("Encryption failed: ") + e.what());
    return nullptr;
  }
}

int CryptComponent::FinishContainer(ContainerSink& sink, const ArchiveSource& source) {
  impl_->failureText.clear();
  impl_->cancelled = false;
  try {
    int64_t position = sink.Taken();
    const Impl::Reader read = [&](uint8_t* buffer, int64_t count, std::string& error) {
      const int64_t got = source.ReadAt(position, buffer, count);
      if (got < 0) error = "Cannot read the archive to encrypt";
      if (got > 0) position += got;
      return got;
    };
    return impl_->Complete(sink, true, read, std::max<int64_t>(source.Size(), 0), "");
  } catch (const std::exception& e) {
    return impl_->Fail(std::string("Encryption failed: ") + e.what());
  }
}

std::shared_ptr<const ArchiveTransform> CryptComponent::NewScratchKeystream() {
  impl_->failureText.clear();
  try {
    SecretBytes key(crypto::kKeystreamKeySize);
    SecretBytes iv(crypto::kKeystreamIvSize);
    if (!impl_->backend->RandomBytes(key.Data(), key.Size()) || !impl_->backend->RandomBytes(iv.Data(), iv.Size())) {
      impl_->Fail("The system's random generator failed");
      return nullptr;
    }
    std::string error;
    std::shared_ptr<const ArchiveTransform> keystream =
        impl_->backend->NewKeystream(std::move(key), std::move(iv), error);
    if (!keystream) impl_->Fail(error);
    return keystream;
  } catch (const std::exception& e) {
    impl_->Fail(e.what());
    return nullptr;
  }
}

bool CryptComponent::EqualInConstantTime(const std::string& a, const std::string& b) {
  // The length is no secret (a digest's text has a fixed length); the bytes are.
  return a.size() == b.size() && crypto::EqualInConstantTime(a.data(), b.data(), a.size());
}

std::shared_ptr<ArchiveSource> CryptComponent::OpenDecrypted(const std::string& source) {
  impl_->failureText.clear();
  try {
    if (std::string problem = impl_->CipherProblem(); !problem.empty()) {
      impl_->Fail(problem);
      return nullptr;
    }
    std::string error;
    std::unique_ptr<crypto::BlockDecryptor> decryptor = impl_->backend->NewBlockDecryptor(impl_->key, error);
    if (!decryptor) {
      impl_->Fail(error);
      return nullptr;
    }
    std::shared_ptr<ArchiveSource> plaintext = ContainerSource::Open(source, std::move(decryptor), impl_->iv, error);
    if (!plaintext) impl_->Fail(error);
    return plaintext;
  } catch (const std::exception& e) {
    impl_->Fail(e.what());
    return nullptr;
  }
}

int CryptComponent::DecryptFileTo(const std::string& source, const std::string& target) {
  try {
    return impl_->TransformFile(false, source, target);
  } catch (const std::exception& e) {
    return impl_->Fail(e.what());
  }
}

}  // namespace kvelv
