#pragma once
// The plaintext of a sealed container, read at any position: a read opens just the chunks it
// covers, each checked against its tag before any of its bytes are handed out, through a small
// cache of recently opened chunks, so memory stays bounded whatever the container's size. Once
// the reads move on from one chunk to the next, a thread of its own opens the chunks ahead of
// them (a few, into a ring of their own), so the checks run beside the reader's decoding.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/sealed/SealedFormat.h"
#include "jobs/sealed/SealedKeys.h"
#include "zip/ArchiveSource.h"
#include "zip/Concurrency.h"

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
  // Opens chunk `index` into `out` (ChunkLength bytes); false, with the failure noted (unless
  // `quiet`), when it cannot be read or fails its check.
  bool OpenChunk(int64_t index, uint8_t* out, bool quiet = false) const;
  void MarkVerified(int64_t index) const;
  // With the lock held: a read touches chunk `index`; moves the window of the chunks opened ahead
  // (and starts their thread when the reads have gone from one chunk to the next).
  void Touch(int64_t index) const;
  // With the lock held: the chunk `index` opened ahead, waited for while the thread opens it,
  // moved into `slot`; false when it is not (and will not be) there.
  bool TakeAhead(int64_t index, std::unique_lock<std::mutex>& lock, std::vector<uint8_t>& into) const;
  void OpenAhead() const;  // the thread's body
  void StopAhead();

  struct Slot {
    int64_t index = -1;
    uint64_t used = 0;
    std::vector<uint8_t> bytes;
  };
  static constexpr int kSlots = 8;
  // With the lock held: the cache slot for chunk `index` (the one that holds it, else the least
  // recently used).
  Slot& Victim(int64_t index) const;
  // Chunks opened ahead of the reads: 8 of 64 KiB.
  static constexpr int64_t kAhead = 8;
  struct AheadSlot {
    int64_t index = -1;
    bool ready = false;  // opened and checked (else being opened)
    std::vector<uint8_t> bytes;
  };

  std::shared_ptr<const ArchiveSource> raw_;
  std::unique_ptr<SealedKeys> keys_;
  std::array<uint8_t, kNoncePrefixSize> prefix_{};
  Layout layout_;
  mutable std::mutex mutex_;  // guards everything below
  mutable std::array<Slot, kSlots> slots_;
  mutable uint64_t clock_ = 0;
  mutable std::vector<uint64_t> verified_;
  mutable std::string failure_;
  mutable int64_t lastTouched_ = -1;
  mutable int64_t aheadFrom_ = 0;  // the thread opens chunks from here ...
  mutable int64_t aheadTo_ = 0;    // ... up to here (exclusive)
  mutable bool aheadStop_ = false;
  mutable std::array<AheadSlot, kAhead> ahead_;
  mutable std::condition_variable aheadWork_;
  mutable std::condition_variable aheadDone_;
  mutable std::optional<ThreadGroup> aheadThread_;  // last: joined before the rest goes
};

}  // namespace kvelv::sealed
