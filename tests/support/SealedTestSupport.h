#pragma once
// Sealed containers for the tests: made in memory with small Argon2id parameters (the header
// carries them, so the program reads them as quickly), and read back from memory.
#include <cstdint>
#include <memory>
#include <string>

#include "jobs/sealed/SealedWriter.h"
#include "zip/ArchiveSource.h"

namespace kvelv::test {

// Argon2id at its cheapest: a container opens in about a millisecond.
inline constexpr sealed::KdfParams kTestKdf{64, 1, 1};

// The bytes of an ArchiveSource held in memory.
class MemoryArchiveSource final : public ArchiveSource {
 public:
  explicit MemoryArchiveSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override;

 private:
  std::string bytes_;
};

// The container of `plain` under `password`, with fixed salt and nonce prefix unless `random`.
std::string SealBytes(const std::string& plain, const std::string& password, bool random = false,
                      sealed::KdfParams kdf = kTestKdf);

}  // namespace kvelv::test
