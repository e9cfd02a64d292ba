#pragma once
// The file a container (or the plaintext of one) is written to, one piece after the other: the
// cipher runs over each piece as it comes, into a temporary file beside the target
// (jobs/ContainerTarget.h), which Commit() renames over the target once Finish() has added the
// padding and synced it. The crypto component makes one for each of its calls; the encrypt job
// feeds one while the archive is still being packed (jobs/ContainerFollower.h). The cipher runs on
// the caller's thread; a thread of the sink's own writes its output meanwhile (a few pieces of
// 1 MiB in flight), so the cipher, which cannot be spread over cores, never waits for the disk.
// Bounded memory whatever the length. One calling thread at a time.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ContainerTarget.h"
#include "jobs/crypto/CryptoBackend.h"
#include "zip/Concurrency.h"

namespace kvelv {

class ContainerSink {
 public:
  // Checks `target` (a folder, device or read-only file there is refused) and creates the
  // temporary file beside it. nullptr with `error` when it cannot; nothing was created then.
  static std::unique_ptr<ContainerSink> Open(std::unique_ptr<crypto::CipherStream> cipher, const std::string& target,
                                             bool encrypting, std::string& error);
  ~ContainerSink();  // the writing stops; the temporary file goes unless committed
  ContainerSink(const ContainerSink&) = delete;
  ContainerSink& operator=(const ContainerSink&) = delete;

  // Runs the cipher over the next `count` bytes and writes the result; false with `error`.
  bool Write(const uint8_t* data, size_t count, std::string& error);
  // Bytes given to Write so far.
  int64_t Taken() const { return taken_; }
  // The last block(s), the permissions of the file it replaces (or the usual ones; the owner's
  // alone for a plaintext) and a sync. False with `error`; `badPadding` when a decryption's
  // padding is not valid (a wrong password).
  bool Finish(std::string& error, bool& badPadding);
  // Renames the file over the target; false with `error`.
  bool Commit(std::string& error);

 private:
  ContainerSink(std::unique_ptr<crypto::CipherStream> cipher, ContainerTarget out, bool encrypting);
  struct Piece {
    std::vector<uint8_t> bytes;  // the cipher's output; wiped when the sink goes
    size_t length = 0;
  };
  // A piece for the cipher's output, once the writer has one free; nullptr when a write failed.
  Piece* FreePiece();
  // Hands `piece` to the writer (or writes it here when there is no writer thread).
  void Queue(Piece* piece);
  // Waits until everything handed over is written; false with `error` when a write failed.
  bool Drain(std::string& error);
  void WriteLoop();
  // Writes one piece to the file; false when it failed (writeError_ says why).
  bool WritePiece(const Piece& piece);

  std::unique_ptr<crypto::CipherStream> cipher_;
  ContainerTarget out_;  // written by the writer, then finished and committed by the caller
  bool encrypting_;
  int64_t taken_ = 0;
  std::vector<Piece> pieces_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Piece*> free_;   // guarded by mutex_
  std::deque<Piece*> queued_;  // guarded by mutex_
  bool busy_ = false;          // guarded by mutex_: the writer holds a piece
  bool stopping_ = false;      // guarded by mutex_
  bool writeFailed_ = false;   // guarded by mutex_; then writeError_ is set
  std::string writeError_;
  std::optional<ThreadGroup> writer_;  // last: started once everything above is ready
};

}  // namespace kvelv
