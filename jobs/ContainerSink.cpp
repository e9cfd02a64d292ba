#include "jobs/ContainerSink.h"

#include <algorithm>
#include <exception>

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace kvelv {

namespace {

constexpr size_t kBlockSize = 16;
// The largest piece run through the cipher at once: a longer Write is cut into such pieces.
constexpr size_t kPiece = size_t{1} << 20;
// Written bytes are sent on to the disk in steps of this many, so that the sync at the end finds
// little left to write.
constexpr int64_t kWriteBackStep = int64_t{8} << 20;
// Pieces between the cipher and the writer: one being encrypted, one being written, one spare.
constexpr size_t kPiecesInFlight = 3;

std::string Reason(const std::error_code& ec, const char* fallback) {
  return ec ? ec.message() : std::string(fallback);
}

// The target's folder with a trailing separator, so the temporary file lands beside it.
std::string FolderOf(const std::string& path) {
  size_t at = path.find_last_of(std::string("/") + platform::kSeparator);
  if (at == std::string::npos) return std::string(".") + platform::kSeparator;
  return path.substr(0, at + 1);
}

}  // namespace

std::unique_ptr<ContainerSink> ContainerSink::Open(std::unique_ptr<crypto::CipherStream> cipher,
                                                   const std::string& target, bool encrypting, std::string& error) {
  // Renaming over a device or folder would replace it rather than write into it; a read-only
  // file is refused as opening it for writing would be.
  if (auto existing = platform::GetFileInfo(target)) {
    if (!platform::FileExists(target)) {
      error = "Cannot write \"" + target + "\": it exists and is not a regular file";
      return nullptr;
    }
    if ((existing->attributes & platform::kAttrReadOnly) != 0) {
      error = "Cannot write \"" + target + "\": the file is read-only";
      return nullptr;
    }
  }
  // Written beside the target under a temporary name, which nothing leaves behind: every way out
  // removes it, and so does a signal that ends the process, or the watcher after a kill.
  std::error_code ec;
  const std::string folder = FolderOf(target);
  platform::PartialFile out = platform::PartialFile::Create(folder, ".tmp", ec);
  if (!out.IsOpen()) {
    error = "Cannot create a temporary file in \"" + folder + "\": " + Reason(ec, "unknown error");
    return nullptr;
  }
  return std::unique_ptr<ContainerSink>(new ContainerSink(std::move(cipher), std::move(out), target, encrypting));
}

ContainerSink::ContainerSink(std::unique_ptr<crypto::CipherStream> cipher, platform::PartialFile out,
                             std::string target, bool encrypting)
    : cipher_(std::move(cipher)), out_(std::move(out)), target_(std::move(target)), encrypting_(encrypting),
      pieces_(kPiecesInFlight) {
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

bool ContainerSink::WritePiece(const Piece& piece) {
  if (piece.length == 0) return true;
  platform::File& file = out_.Handle();
  if (file.Write(piece.bytes.data(), static_cast<int64_t>(piece.length)) != static_cast<int64_t>(piece.length)) {
    writeError_ = "Cannot write \"" + target_ + "\": " + Reason(file.LastError(), "the disk may be full");
    return false;
  }
  written_ += static_cast<int64_t>(piece.length);
  if (written_ - sentOn_ >= kWriteBackStep) {
    file.StartWriteBack(sentOn_, written_ - sentOn_);
    sentOn_ = written_;
  }
  return true;
}

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
  platform::File& file = out_.Handle();
  if (!file.TakePermissions(target_, encrypting_ ? platform::NewFileMode::Usual : platform::NewFileMode::Private)) {
    error = "Cannot set the permissions of \"" + target_ + "\": " + Reason(file.LastError(), "I/O error");
    return false;
  }
  if (!file.Sync()) {
    error = "Cannot flush \"" + target_ + "\" to disk: " + Reason(file.LastError(), "I/O error");
    return false;
  }
  return true;
}

bool ContainerSink::Commit(std::string& error) {
  std::error_code ec;
  if (out_.Commit(target_, ec)) return true;
  error = "Cannot move the finished file into place as \"" + target_ + "\": " + Reason(ec, "I/O error");
  return false;
}

}  // namespace kvelv
