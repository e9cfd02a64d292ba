// Ownership of the folder's handle is the same on every platform; opening and the calls relative
// to the folder live in posix/ and win32/.
#include "platform/Folder.h"

#include <utility>

namespace kvelv::platform {

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) { other.handle_ = -1; }

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace kvelv::platform
