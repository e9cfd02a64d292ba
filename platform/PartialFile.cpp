// Ownership of a partial file is the same on every platform; how it is created, guarded and put
// in place lives in posix/ and win32/.
#include "platform/PartialFile.h"

#include <utility>

namespace kvelv::platform {

PartialFile::~PartialFile() { Remove(); }

PartialFile::PartialFile(PartialFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      path_(std::move(other.path_)),
      file_(std::move(other.file_)),
      ticket_(std::exchange(other.ticket_, 0)) {
  other.name_.clear();
}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
  if (this != &other) {
    Remove();
    folder_ = std::move(other.folder_);
    name_ = std::move(other.name_);
    path_ = std::move(other.path_);
    file_ = std::move(other.file_);
    ticket_ = std::exchange(other.ticket_, 0);
    other.name_.clear();
  }
  return *this;
}

}  // namespace kvelv::platform
