#include "jobs/ContainerTarget.h"

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"

namespace kvelv {

namespace {

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

ContainerTarget::~ContainerTarget() {
  if (committed_ || tempPath_.empty()) return;
  if (file_.IsOpen()) file_.Close();
  platform::DeleteFile(tempPath_);
}

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
  file_ = platform::CreateUniqueFile(folder, ".tmp", tempPath_, ec);
  if (!file_.IsOpen()) {
    tempPath_.clear();
    failure = "Cannot create a temporary file in \"" + folder + "\": " + Reason(ec, "unknown error");
    return false;
  }
  return true;
}

bool ContainerTarget::Write(const void* data, size_t size, std::string& failure) {
  if (size == 0) return true;
  if (file_.Write(data, static_cast<int64_t>(size)) == static_cast<int64_t>(size)) return true;
  failure = "Cannot write \"" + target_ + "\": " + Reason(file_.LastError(), "the disk may be full");
  return false;
}

bool ContainerTarget::Commit(std::string& failure) {
  auto fail = [&](const std::string& what) {
    failure = what + ": " + Reason(file_.LastError(), "I/O error");
    return false;
  };
  if (!file_.TakePermissions(target_, platform::NewFileMode::Usual))
    return fail("Cannot set the permissions of \"" + target_ + "\"");
  if (!file_.Sync()) return fail("Cannot flush \"" + target_ + "\" to disk");
  if (!file_.Close()) return fail("Cannot finish writing \"" + target_ + "\"");
  if (!platform::RenameFile(tempPath_, target_)) {
    failure = "Cannot move the finished file into place as \"" + target_ + "\"";
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace kvelv
