#include "jobs/ContainerSink.h"

#include <algorithm>
#include <exception>

namespace kvelv {

namespace {

constexpr size_t kBlockSize = 16;
// The largest piece run through the cipher at once: a longer Write is cut into such pieces.
constexpr size_t kPiece = size_t{1} << 20;
// Pieces between the cipher and the writer: one being encrypted, one being written, one spare.
constexpr size_t kPiecesInFlight = 3;

}  // namespace

std::unique_ptr<ContainerSink> ContainerSink::Open(std::unique_ptr<crypto::CipherStream> cipher,
                                                   const std::string& target, bool encrypting, std::string& error) {
  ContainerTarget out;
  if (!out.Create(target, error)) return nullptr;
  return std::unique_ptr<ContainerSink>(new ContainerSink(std::move(cipher), std::move(out), encrypting));
}

ContainerSink::ContainerSink(std::unique_ptr<crypto::CipherStream> cipher, ContainerTarget out, bool encrypting)
    : cipher_(std::move(cipher)), out_(std::move(out)), encrypting_(encrypting), pieces_(kPiecesInFlight) {
  for (Piece& piece : pieces_) {
    piece.bytes.resize(kPiece + kBlockSize);
    free_.push_back(&piece);
  }
  try {
    writer_.emplace(1, [this] { WriteLoop(); }, [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    });
  } catch (const std::exception&) {
    writer_.reset();  // the pieces are then written on the caller's thread
  }
}

ContainerSink::~ContainerSink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.reset();  // joins
  for (Piece& piece : pieces_) crypto::SecureWipe(piece.bytes.data(), piece.bytes.size());
}

bool ContainerSink::WritePiece(const Piece& piece) { return out_.Write(piece.bytes.data(), piece.length, writeError_); }

void ContainerSink::WriteLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    Piece* piece = queued_.front();
    queued_.pop_front();
    busy_ = true;
    bool ok = !writeFailed_;
    if (ok) {
      lock.unlock();
      ok = WritePiece(*piece);
      lock.lock();
    }
    if (!ok) writeFailed_ = true;
    busy_ = false;
    free_.push_back(piece);
    changed_.notify_all();
  }
}

ContainerSink::Piece* ContainerSink::FreePiece() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return writeFailed_ || !free_.empty(); });
  if (writeFailed_) return nullptr;
  Piece* piece = free_.back();
  free_.pop_back();
  return piece;
}

void ContainerSink::Queue(Piece* piece) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!writer_) {
    // No writer thread: written here, the lock held as the writer would not.
    if (!writeFailed_ && !WritePiece(*piece)) writeFailed_ = true;
    free_.push_back(piece);
    return;
  }
  queued_.push_back(piece);
  lock.unlock();
  changed_.notify_all();
}

bool ContainerSink::Drain(std::string& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return writeFailed_ || (queued_.empty() && !busy_); });
  if (!writeFailed_) return true;
  error = writeError_;
  return false;
}

bool ContainerSink::Write(const uint8_t* data, size_t count, std::string& error) {
  while (count > 0) {
    Piece* piece = FreePiece();
    if (piece == nullptr) return Drain(error);
    const size_t length = std::min(count, kPiece);
    const bool ok = cipher_->Update(data, length, piece->bytes.data(), piece->length, error);
    if (!ok) piece->length = 0;
    Queue(piece);
    if (!ok) return false;
    taken_ += static_cast<int64_t>(length);
    data += length;
    count -= length;
  }
  return true;
}

bool ContainerSink::Finish(std::string& error, bool& badPadding) {
  badPadding = false;
  Piece* piece = FreePiece();
  if (piece == nullptr) return Drain(error);
  const bool ok = cipher_->Final(piece->bytes.data(), piece->length, badPadding, error);
  if (!ok) piece->length = 0;
  Queue(piece);
  if (!ok) return false;
  if (!Drain(error)) return false;
  // A container is a file for the user: a replaced one keeps its permissions, a new one gets the
  // usual ones. The plaintext of a decryption stays the owner's alone.
  return out_.Finish(encrypting_ ? platform::NewFileMode::Usual : platform::NewFileMode::Private, error);
}

bool ContainerSink::Commit(std::string& error) { return out_.Commit(error); }

}  // namespace kvelv
