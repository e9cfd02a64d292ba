// Ownership of the handle is the same on every platform; opening and I/O live in posix/ and win32/.
#include "platform/File.h"

namespace kvelv::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), lastError_(other.lastError_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    lastError_ = other.lastError_;
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace kvelv::platform
