#include "jobs/ContainerTarget.h"

#include "platform/FileSystem.h"

namespace kvelv {

namespace {

// Written bytes are sent on to the disk in steps of this many.
constexpr int64_t kWriteBackStep = int64_t{8} << 20;

std::string Reason(const std::error_code& ec, const char* fallback) {
  return ec ? ec.message() : std::string(fallback);
}

// The target's folder with a trailing separator, so the partial file lands beside it.
std::string FolderOf(const std::string& path) {
  size_t at = path.find_last_of(std::string("/") + platform::kSeparator);
  if (at == std::string::npos) return std::string(".") + platform::kSeparator;
  return path.substr(0, at + 1);
}

}  // namespace

bool ContainerTarget::Create(const std::string& target, std::string& failure) {
  target_ = target;
  // Renaming over a device or folder would replace it rather than write into it; a read-only
  // file is refused as opening it for writing would be.
  if (auto existing = platform::GetFileInfo(target)) {
    if (!platform::FileExists(target)) {
      failure = "Cannot write \"" + target + "\": it exists and is not a regular file";
      return false;
    }
    if ((existing->attributes & platform::kAttrReadOnly) != 0) {
      failure = "Cannot write \"" + target + "\": the file is read-only";
      return false;
    }
  }
  const std::string folder = FolderOf(target);
  std::error_code ec;
  partial_ = platform::PartialFile::Create(folder, ".tmp", ec);
  if (!partial_.IsOpen()) {
    failure = "Cannot create a temporary file in \"" + folder + "\": " + Reason(ec, "unknown error");
    return false;
  }
  return true;
}

bool ContainerTarget::Write(const void* data, size_t size, std::string& failure) {
  if (size == 0) return true;
  platform::File& file = partial_.Handle();
  if (file.Write(data, static_cast<int64_t>(size)) != static_cast<int64_t>(size)) {
    failure = "Cannot write \"" + target_ + "\": " + Reason(file.LastError(), "the disk may be full");
    return false;
  }
  written_ += static_cast<int64_t>(size);
  if (written_ - sentOn_ >= kWriteBackStep) {
    file.StartWriteBack(sentOn_, written_ - sentOn_);
    sentOn_ = written_;
  }
  return true;
}

bool ContainerTarget::Finish(platform::NewFileMode whenNew, std::string& failure) {
  platform::File& file = partial_.Handle();
  if (!file.TakePermissions(target_, whenNew)) {
    failure = "Cannot set the permissions of \"" + target_ + "\": " + Reason(file.LastError(), "I/O error");
    return false;
  }
  if (!file.Sync()) {
    failure = "Cannot flush \"" + target_ + "\" to disk: " + Reason(file.LastError(), "I/O error");
    return false;
  }
  return true;
}

bool ContainerTarget::Commit(std::string& failure) {
  std::error_code ec;
  if (partial_.Commit(target_, ec)) return true;
  failure = "Cannot move the finished file into place as \"" + target_ + "\": " + Reason(ec, "I/O error");
  return false;
}

}  // namespace kvelv
