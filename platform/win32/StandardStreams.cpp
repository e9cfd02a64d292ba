// Windows: the three standard handles and the C runtime's descriptors 0, 1 and 2 over them. A
// handle the parent closed or never passed may hold a number that a file opened later gets;
// writing a message to it would then write into that file. Such a handle is replaced by one on
// the null device, and so is the C runtime's descriptor that stands on it.
#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

bool IsUsable(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  SetLastError(NO_ERROR);
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

HANDLE OpenNullDevice() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};  // as standard handles are
  return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool OpenStandardStreams() {
  const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int fd = 0; fd <= 2; ++fd) {
    if (IsUsable(GetStdHandle(which[fd]))) continue;
    HANDLE null = OpenNullDevice();
    if (null == INVALID_HANDLE_VALUE || !SetStdHandle(which[fd], null)) return false;
    // The runtime's descriptor gets a handle of its own, so closing one never leaves the other
    // with a dead number.
    const int runtime = _open("NUL", _O_RDWR | _O_BINARY);
    if (runtime < 0) return false;
    const bool moved = runtime == fd || _dup2(runtime, fd) == 0;
    if (runtime != fd) _close(runtime);
    if (!moved) return false;
  }
  return true;
}

}  // namespace kvelv::platform
