#include "jobs/ContainerSink.h"

#include <algorithm>

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
    : cipher_(std::move(cipher)),
      out_(std::move(out)),
      target_(std::move(target)),
      encrypting_(encrypting),
      output_(kPiece + kBlockSize) {}

ContainerSink::~ContainerSink() { crypto::SecureWipe(output_.data(), output_.size()); }

bool ContainerSink::WriteOut(size_t length, std::string& error) {
  if (length == 0) return true;
  if (out_.Handle().Write(output_.data(), static_cast<int64_t>(length)) == static_cast<int64_t>(length)) {
    written_ += static_cast<int64_t>(length);
    if (written_ - sentOn_ >= kWriteBackStep) {
      out_.Handle().StartWriteBack(sentOn_, written_ - sentOn_);
      sentOn_ = written_;
    }
    return true;
  }
  error = "Cannot write \"" + target_ + "\": " + Reason(out_.Handle().LastError(), "the disk may be full");
  return false;
}

bool ContainerSink::Write(const uint8_t* data, size_t count, std::string& error) {
  while (count > 0) {
    const size_t piece = std::min(count, kPiece);
    size_t length = 0;
    if (!cipher_->Update(data, piece, output_.data(), length, error)) return false;
    if (!WriteOut(length, error)) return false;
    taken_ += static_cast<int64_t>(piece);
    data += piece;
    count -= piece;
  }
  return true;
}

bool ContainerSink::Finish(std::string& error, bool& badPadding) {
  badPadding = false;
  size_t length = 0;
  if (!cipher_->Final(output_.data(), length, badPadding, error)) return false;
  if (!WriteOut(length, error)) return false;
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
