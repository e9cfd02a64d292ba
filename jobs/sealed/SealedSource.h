#pragma once
// The plaintext of a sealed container, read at any position: a read opens just the chunks it
// covers, each checked against its tag before any of its bytes are handed out, through a small
// cache of recently opened chunks, so memory stays bounded whatever the container's size.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/sealed/SealedFormat.h"
#include "jobs/sealed/SealedKeys.h"
#include "zip/ArchiveSource.h"

namespace kvelv::sealed {

class SealedSource final : public ArchiveSource {
 public:
  // Opens the container in `raw`: reads and checks the header (limits before any allocation),
  // derives the keys from `password`, checks the header's tag (a wrong password fails here),
  // the container's length and the last chunk (a cut-off container fails here). nullptr with
  // `failure` set when any check fails.
  static std::shared_ptr<SealedSource> Open(std::shared_ptr<const ArchiveSource> raw, std::string_view password,
                                            std::string& failure);
  // The same with keys already derived (tests, fuzzing).
  static std::shared_ptr<SealedSource> Open(std::shared_ptr<const ArchiveSource> raw,
                                            std::unique_ptr<SealedKeys> keys, std::string& failure);
  ~SealedSource() override;

  int64_t Size() const override { return layout_.plainSize; }
  // -1 when a chunk fails its check or cannot be read; Failure() tells which.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override;

  // Opens every chunk no read has opened yet; false with the reason when one fails. Once it
  // returned true, every byte of the container has been checked. `keepGoing`, when given, is
  // asked between chunks; false stops with the failure "cancelled".
  bool VerifyRemaining(std::string& failure, const std::function<bool()>& keepGoing = {}) const;
  // The first chunk failure a read met ("" when none).
  std::string Failure() const;
  int64_t Chunks() const { return layout_.chunks; }

 private:
  SealedSource(std::shared_ptr<const ArchiveSource> raw, std::unique_ptr<SealedKeys> keys, const Header& header,
               Layout layout);
  int64_t ChunkLength(int64_t index) const;
  // Opens chunk `index` into `out` (ChunkLength bytes); false, with the failure noted, when it
  // cannot be read or fails its check.
  bool OpenChunk(int64_t index, uint8_t* out) const;
  void MarkVerified(int64_t index) const;

  struct Slot {
    int64_t index = -1;
    uint64_t used = 0;
    std::vector<uint8_t> bytes;
  };
  static constexpr int kSlots = 8;

  std::shared_ptr<const ArchiveSource> raw_;
  std::unique_ptr<SealedKeys> keys_;
  std::array<uint8_t, kNoncePrefixSize> prefix_{};
  Layout layout_;
  mutable std::mutex mutex_;  // guards everything below
  mutable std::array<Slot, kSlots> slots_;
  mutable uint64_t clock_ = 0;
  mutable std::vector<uint64_t> verified_;
  mutable std::string failure_;
};

}  // namespace kvelv::sealed
