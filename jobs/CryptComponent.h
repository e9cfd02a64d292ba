#pragma once
// The crypto component: hashing and whole-file AES encryption, configured by name as the jobs
// and the login check expect. Exposes no crypto-library types.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/SecretBytes.h"
#include "zip/ArchiveSource.h"
#include "zip/ArchiveTransform.h"

namespace kvelv {

class ContainerSink;

// Raised by a failing call other than EncryptFileTo/DecryptFileTo (which return a result).
class CryptError : public Error {
 public:
  using Error::Error;
  const char* ClassName() const noexcept override { return "ECryptError"; }
};

// Crypto-library names of the algorithms Create fetches; an empty name is not fetched, and a
// call that needs it fails then. A component fetches only what its user needs, so that it runs
// where the system allows only approved algorithms: the jobs never fetch MD5. Tests name a
// missing algorithm to see creation fail.
struct CryptAlgorithms {
  std::string cipher = "AES-256-CBC";     // containers
  std::string keystream = "AES-256-CTR";  // the encrypt job's temporary archive
  std::string sha256 = "SHA2-256";        // the key from the password
  std::string md5;                        // the window's login check only
  // What the login check needs: MD5, nothing else.
  static CryptAlgorithms LoginCheck() { return {"", "", "", "MD5"}; }
};

class CryptComponent {
 public:
  // Fetches the algorithms it needs; returns nullptr when any cannot be had ("component cannot
  // be created"). `error` receives the reason.
  static std::unique_ptr<CryptComponent> Create(std::string* error = nullptr);
  static std::unique_ptr<CryptComponent> Create(const CryptAlgorithms& names, std::string* error);
  ~CryptComponent();
  CryptComponent(const CryptComponent&) = delete;
  CryptComponent& operator=(const CryptComponent&) = delete;

  void SetCryptAlgorithm(const std::string& name);  // "aes"
  void SetCipherMode(const std::string& name);      // "cbc"
  void SetHashAlgorithm(const std::string& name);   // "sha256", "md5"
  void SetCharset(const std::string& name);         // "windows-1252", "utf-8"; unset: see DigestText
  void SetEncodingMode(const std::string& name);    // "base64", "hex", "ascii"
  void SetKeyBits(int bits);                        // 256
  // Names are matched case-insensitively when used; an unknown one raises CryptError then.
  std::string FailureText() const;

  // Digest under HashAlgorithm of the UTF-8 `text` in the Charset's bytes. Without a Charset the
  // windows-1252 bytes are hashed when every character has one, else the UTF-8 bytes. The text
  // is a password: it, its bytes in the Charset and the digest stay in secret storage.
  platform::SecretBytes DigestText(const platform::SecretBytes& text);
  // EncodeBytes(DigestText(text), EncodingMode).
  std::string DigestTextEncoded(const platform::SecretBytes& text);
  // "hex" (lower case), "base64" (standard alphabet, padded) or "ascii" (bytes below 0x80).
  std::string EncodeBytes(const std::vector<uint8_t>& bytes, const std::string& encoding);
  // Decode `text` by the encoding (hex in either case); the key must be KeyBits/8 bytes, the
  // vector 16 bytes.
  void LoadKey(const std::string& text, const std::string& encoding);
  void LoadIV(const std::string& text, const std::string& encoding);
  // The key as bytes (KeyBits/8 of them), taken over: the jobs load the digest of the password
  // this way, with no text form of the key in between.
  void LoadKey(platform::SecretBytes key);

  // 1 on success; anything else is failure, explained by FailureText(); never throws. AES-256-CBC
  // with PKCS#7 padding and no header, streamed in bounded memory. The target is written under
  // a temporary name in its folder and renamed into place only when complete; on failure an
  // existing target is left as it was.
  [[nodiscard]] int EncryptFileTo(const std::string& source, const std::string& target);
  // The same with the plaintext read from `source` (the encrypt job's temporary archive, read
  // back through its keystream).
  [[nodiscard]] int EncryptSourceTo(const ArchiveSource& source, const std::string& target);
  // The same made in two steps, for plaintext that is still being made (the encrypt job's
  // archive while it is packed): OpenContainerSink checks the target and creates the temporary
  // file beside it (nullptr on failure, nothing created then); the caller hands the sink the
  // plaintext from its start, as far as it has it; FinishContainer reads the rest from `source`,
  // from the sink's Taken() on, and ends as EncryptSourceTo does (the progress handler counts
  // the whole). The container's bytes are those of EncryptSourceTo of the whole.
  [[nodiscard]] std::unique_ptr<ContainerSink> OpenContainerSink(const std::string& target);
  [[nodiscard]] int FinishContainer(ContainerSink& sink, const ArchiveSource& source);
  // Called by EncryptFileTo, EncryptSourceTo and DecryptFileTo after every chunk with the source
  // bytes done and the source's size; false stops the call, which then fails as any failure does
  // (nothing written, an existing target untouched) with Cancelled() true.
  void SetProgressHandler(std::function<bool(int64_t done, int64_t total)> handler);
  // Whether the last of these calls was stopped by the progress handler.
  bool Cancelled() const;
  [[nodiscard]] int DecryptFileTo(const std::string& source, const std::string& target);
  // The plaintext of the container `source`, decrypted where it is read and written nowhere.
  // Checks what DecryptFileTo checks before anything is read: the length and the padding (a
  // wrong password shows there). nullptr on failure, explained by FailureText(); never throws.
  [[nodiscard]] std::shared_ptr<ArchiveSource> OpenDecrypted(const std::string& source);

  // A keystream (AES-256 in counter mode) under a new random key and vector that exist only in
  // memory, for the job's own temporary files: what it wrote is unreadable once the process is
  // gone, however it ends. nullptr on failure, explained by FailureText(); never throws.
  [[nodiscard]] std::shared_ptr<const ArchiveTransform> NewScratchKeystream();

  // Whether two texts are equal, compared in a time that does not depend on where they differ
  // (the login hash).
  static bool EqualInConstantTime(const std::string& a, const std::string& b);

 private:
  struct Impl;
  explicit CryptComponent(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kvelv
