#pragma once
// "Another program has the file open": a handle opened with the share mode given, held until
// destroyed. Windows share modes apply between handles of one process too.
#include <stdexcept>
#include <string>

#include "platform/win32/WinApi.h"

namespace kvelv::test {

class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD shareMode) {
    handle_ = CreateFileW(platform::win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + path);
  }
  ~HeldFile() { CloseHandle(handle_); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace kvelv::test
