#pragma once
// The plaintext of an encrypted container, read at any position without writing it anywhere:
// in CBC mode a block decrypts from its own ciphertext and the ciphertext block before it, so a
// read decrypts just the blocks it covers. The archive reader reads the container through it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/crypto/CryptoBackend.h"
#include "platform/File.h"
#include "zip/ArchiveSource.h"

namespace kvelv {

class ContainerSource final : public ArchiveSource {
 public:
  // Opens the container at `path` for the key behind `decryptor` and the vector `iv`. Checks what
  // a whole-file decryption checks first: the length (not empty, a multiple of 16) and the
  // padding of the last block, where a wrong password shows. nullptr with `failure` set (the
  // same texts as the component's decryption) when any check fails.
  static std::shared_ptr<ContainerSource> Open(const std::string& path,
                                               std::unique_ptr<crypto::BlockDecryptor> decryptor,
                                               const std::vector<uint8_t>& iv, std::string& failure);
  ~ContainerSource() override;

  // The plaintext's length (the container's without the padding).
  int64_t Size() const override { return plainSize_; }
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override;

 private:
  ContainerSource(platform::File file, std::unique_ptr<crypto::BlockDecryptor> decryptor,
                  const std::vector<uint8_t>& iv, int64_t plainSize);
  // Decrypts the blocks `first` to `first + blocks - 1` into `out`; false on a read or library error.
  bool DecryptBlocks(int64_t first, int64_t blocks, uint8_t* out) const;

  platform::File file_;
  std::unique_ptr<crypto::BlockDecryptor> decryptor_;
  uint8_t iv_[16];
  int64_t plainSize_;
};

}  // namespace kvelv
