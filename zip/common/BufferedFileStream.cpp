#include "zip/common/BufferedFileStream.h"

#include <algorithm>
#include <cstring>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

// The bytes a stream wrote, read back from its file by position, not through the stream.
class WrittenFileBytes final : public ArchiveSource {
 public:
  WrittenFileBytes(const platform::File& file, std::shared_ptr<const ArchiveTransform> transform)
      : file_(file), transform_(std::move(transform)) {}
  int64_t Size() const override { return file_.Size(); }
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override {
    const int64_t got = file_.ReadAt(position, buffer, count);
    if (got <= 0 || transform_ == nullptr) return got;
    auto* bytes = static_cast<uint8_t*>(buffer);
    return transform_->Apply(position, bytes, bytes, static_cast<size_t>(got)) ? got : -1;
  }

 private:
  const platform::File& file_;
  std::shared_ptr<const ArchiveTransform> transform_;
};

}  // namespace

BufferedFileStream::BufferedFileStream(size_t bufferSize)
    : buffer_(bufferSize == 0 ? 1 : bufferSize) {}

void BufferedFileStream::Restart(const std::string& name) {
  transform_.reset();
  path_ = name;
  position_ = 0;
  bufferStart_ = 0;
  bufferFill_ = 0;
  writing_ = false;
  failed_ = false;
  lastError_.clear();
}

BufferedFileStream::~BufferedFileStream() {
  if (IsOpen()) Close();  // failures cannot be reported here; callers that care call Close()
}

bool BufferedFileStream::Open(const std::string& path, platform::OpenMode mode,
                              std::error_code& ec) {
  if (IsOpen()) Close();
  file_ = platform::File::Open(path, mode, ec);
  Restart(path);
  return file_.IsOpen();
}

void BufferedFileStream::Adopt(platform::File file, const std::string& path) {
  if (IsOpen()) Close();
  file_ = std::move(file);
  Restart(path);
}

void BufferedFileStream::OpenSource(std::shared_ptr<const ArchiveSource> source, const std::string& name) {
  if (IsOpen()) Close();
  source_ = std::move(source);
  Restart(name);
}

std::shared_ptr<const ArchiveSource> BufferedFileStream::WrittenBytes() const {
  return std::make_shared<WrittenFileBytes>(file_, transform_);
}

void BufferedFileStream::OpenOrThrow(const std::string& path, platform::OpenMode mode) {
  std::error_code ec;
  if (!Open(path, mode, ec))
    throw EFOpenError("Cannot open file \"" + path + "\". " + ec.message());
}

void BufferedFileStream::DropReadBuffer() {
  if (!writing_) {
    bufferStart_ = position_;
    bufferFill_ = 0;
  }
}

bool BufferedFileStream::FlushWrite() {
  if (!writing_ || bufferFill_ == 0) return !failed_;
  const int64_t want = static_cast<int64_t>(bufferFill_);
  int64_t done = 0;
  // The buffer is rewritten in place: nothing reads these bytes again once they are written.
  if (transform_ == nullptr || transform_->Apply(bufferStart_, buffer_.data(), buffer_.data(), bufferFill_))
    done = file_.WriteAt(bufferStart_, buffer_.data(), want);
  if (done != want) {
    failed_ = true;
    lastError_ = file_.LastError();
    bufferFill_ = 0;
    bufferStart_ = position_;
    return false;
  }
  bufferStart_ = position_;
  bufferFill_ = 0;
  return true;
}

int64_t BufferedFileStream::Read(void* buffer, int64_t count) {
  if (!IsOpen() || count <= 0) return 0;
  if (writing_) {
    if (!FlushWrite()) return 0;
    writing_ = false;
    bufferStart_ = position_;
    bufferFill_ = 0;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (total < count) {
    const int64_t bufferEnd = bufferStart_ + static_cast<int64_t>(bufferFill_);
    if (position_ >= bufferStart_ && position_ < bufferEnd) {
      const int64_t n = std::min(count - total, bufferEnd - position_);
      std::memcpy(out + total, buffer_.data() + (position_ - bufferStart_), static_cast<size_t>(n));
      total += n;
      position_ += n;
      continue;
    }
    const int64_t remaining = count - total;
    if (remaining >= static_cast<int64_t>(buffer_.size())) {
      // Large reads bypass the buffer.
      const int64_t n = ReadRaw(out + total, remaining);
      if (n <= 0) break;
      total += n;
      position_ += n;
      continue;
    }
    const int64_t n = ReadRaw(buffer_.data(), static_cast<int64_t>(buffer_.size()));
    bufferStart_ = position_;
    bufferFill_ = n > 0 ? static_cast<size_t>(n) : 0;
    if (n <= 0) break;
  }
  return total;
}

int64_t BufferedFileStream::ReadRaw(void* buffer, int64_t count) {
  if (source_) return source_->ReadAt(position_, buffer, count);
  if (!file_.Seek(position_)) return -1;
  const int64_t got = file_.Read(buffer, count);
  if (got <= 0 || transform_ == nullptr) return got;
  auto* bytes = static_cast<uint8_t*>(buffer);
  return transform_->Apply(position_, bytes, bytes, static_cast<size_t>(got)) ? got : -1;
}

bool BufferedFileStream::WriteRaw(const uint8_t* data, int64_t count, int64_t& done) {
  done = 0;
  if (transform_ == nullptr) {
    done = file_.WriteAt(position_, data, count);
    return done == count;
  }
  // The caller's bytes stay as they are: the transformed ones go out in buffer-sized pieces.
  const int64_t piece = static_cast<int64_t>(buffer_.size());
  transformed_.resize(buffer_.size());
  while (done < count) {
    const int64_t n = std::min(piece, count - done);
    if (!transform_->Apply(position_ + done, data + done, transformed_.data(), static_cast<size_t>(n))) return false;
    const int64_t written = file_.WriteAt(position_ + done, transformed_.data(), n);
    if (written > 0) done += written;
    if (written != n) return false;
  }
  return true;
}

int64_t BufferedFileStream::Write(const void* data, int64_t count) {
  if (!IsOpen() || source_ || failed_ || count <= 0) return 0;
  if (!writing_) {
    writing_ = true;
    bufferStart_ = position_;
    bufferFill_ = 0;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  int64_t total = 0;
  while (total < count) {
    // A seek back into pending bytes (a local header finished after its data) lands inside the
    // buffer: the write overwrites them there.
    size_t offset = static_cast<size_t>(position_ - bufferStart_);
    if (offset == buffer_.size()) {
      if (!FlushWrite()) return total;
      offset = 0;
    }
    const int64_t remaining = count - total;
    if (bufferFill_ == 0 && remaining >= static_cast<int64_t>(buffer_.size())) {
      int64_t done = 0;
      WriteRaw(in + total, remaining, done);
      if (done != remaining) {
        failed_ = true;
        lastError_ = file_.LastError();
        return total + std::max<int64_t>(done, 0);
      }
      total += remaining;
      position_ += remaining;
      bufferStart_ = position_;
      continue;
    }
    const int64_t n = std::min<int64_t>(remaining, static_cast<int64_t>(buffer_.size() - offset));
    std::memcpy(buffer_.data() + offset, in + total, static_cast<size_t>(n));
    bufferFill_ = std::max(bufferFill_, offset + static_cast<size_t>(n));
    total += n;
    position_ += n;
  }
  return total;
}

void BufferedFileStream::WriteAll(const void* data, int64_t count) {
  if (count > 0 && Write(data, count) != count) throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
}

void BufferedFileStream::WriteU16(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  WriteAll(b, 2);
}

void BufferedFileStream::WriteU32(uint32_t v) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  WriteAll(b, 4);
}

void BufferedFileStream::WriteU64(uint64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  WriteAll(b, 8);
}

bool BufferedFileStream::Seek(int64_t position) {
  if (!IsOpen() || position < 0) return false;
  if (writing_) {
    if (position >= bufferStart_ && position <= bufferStart_ + static_cast<int64_t>(bufferFill_)) {
      // Within the pending bytes: later writes overwrite them in the buffer, no flush needed.
      position_ = position;
      return true;
    }
    if (!FlushWrite()) return false;
    position_ = position;
    bufferStart_ = position;
    return true;
  }
  position_ = position;
  return true;
}

int64_t BufferedFileStream::Size() {
  if (!IsOpen()) return -1;
  if (source_) return source_->Size();
  const int64_t onDisk = file_.Size();
  if (onDisk < 0) return -1;
  if (writing_) return std::max(onDisk, bufferStart_ + static_cast<int64_t>(bufferFill_));
  return onDisk;
}

bool BufferedFileStream::SetSize(int64_t size) {
  if (!IsOpen() || source_ || size < 0 || !Flush()) return false;
  if (!writing_) {
    bufferStart_ = position_;
    bufferFill_ = 0;
  }
  if (!file_.Truncate(size)) {
    lastError_ = file_.LastError();
    return false;
  }
  return true;
}

bool BufferedFileStream::Flush() {
  if (!IsOpen()) return false;
  return FlushWrite() && !failed_;
}

bool BufferedFileStream::Sync() {
  if (!Flush()) return false;
  if (source_) return true;
  if (!file_.Sync()) {
    lastError_ = file_.LastError();
    return false;
  }
  return true;
}

bool BufferedFileStream::Close() {
  if (!IsOpen()) return !failed_;
  source_.reset();
  bool ok = FlushWrite() && !failed_;
  if (!file_.Close()) {
    ok = false;
    if (!lastError_) lastError_ = file_.LastError();
  }
  file_ = platform::File();
  writing_ = false;
  bufferFill_ = 0;
  return ok;
}

}  // namespace kvelv
