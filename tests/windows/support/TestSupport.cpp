// Windows twin of tests/support/TestSupport.cpp: the same temporary folders and file helpers on
// the Win32 API. "Another program holds a lock" is a handle opened without sharing, which the
// Windows tests take themselves (see HeldFile.h); ChildLock has no Windows form.
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "platform/win32/WinApi.h"

namespace kvelv::test {

namespace {

using platform::win32::WidePath;
using platform::win32::Widen;

// Read-only files and folders would stop remove_all; clear the attribute everywhere first.
void ClearReadOnly(const std::filesystem::path& root) {
  std::error_code ec;
  SetFileAttributesW(root.c_str(), FILE_ATTRIBUTE_NORMAL);
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace

TempDir::TempDir() {
  std::string base = platform::TempFolder();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = platform::UniqueName(base, ".dir");
    if (CreateDirectoryW(Widen(candidate).c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + base);
}

TempDir::~TempDir() {
  std::filesystem::path root(Widen(path_));
  ClearReadOnly(root);
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
}

std::string TempDir::Join(const std::string& name) const { return path_ + platform::kSeparator + name; }

void WriteFile(const std::string& path, std::string_view bytes) {
  HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  CloseHandle(handle);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  std::string text;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
      CloseHandle(handle);
      throw std::runtime_error("cannot read " + path);
    }
    if (got == 0) break;
    text.append(buffer, got);
  }
  CloseHandle(handle);
  return text;
}

ChildLock::ChildLock(const std::string& path, bool, bool) {
  throw std::runtime_error("ChildLock is POSIX only; hold " + path + " with HeldFile on Windows");
}

ChildLock::~ChildLock() = default;

}  // namespace kvelv::test
