#include "platform/SecretLine.h"

#include <cstring>
#include <utility>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

// Reads from `handle` until a line feed arrives or the input ends; a pipe or console a little
// at a time, so that what follows the line stays there.
SecretBytes ReadLine(HANDLE handle, std::error_code& ec) {
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  const DWORD chunk = disk ? 4096 : 1;
  SecretBytes line;
  line.Reserve(disk ? chunk : 256);
  for (;;) {
    if (line.Size() > kMaxSecretLine) {
      ec = std::make_error_code(std::errc::value_too_large);
      return {};
    }
    const size_t before = line.Size();
    line.Resize(before + chunk);
    DWORD got = 0;
    if (!ReadFile(handle, line.Data() + before, chunk, &got, nullptr)) {
      const DWORD error = GetLastError();
      line.Resize(before);
      // The writer of a pipe closed its end: the input is over.
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
      ec = win32::ErrorFromWin32(error);
      return {};
    }
    line.Resize(before + got);
    if (got == 0 || std::memchr(line.Data() + before, '\n', got) != nullptr) break;
  }
  return FirstLineOf(std::move(line), ec);
}

}  // namespace

SecretBytes ReadSecretLine(const std::string& path, std::error_code& ec) {
  HANDLE file = CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder cannot be opened as a file; say so rather than "access denied".
    const DWORD attributes = GetFileAttributesW(win32::Widen(path).c_str());
    ec = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
             ? std::make_error_code(std::errc::is_a_directory)
             : win32::ErrorFromWin32(error);
    return {};
  }
  SecretBytes line = ReadLine(file, ec);
  CloseHandle(file);
  return line;
}

SecretBytes ReadSecretLineFromStandardInput(std::error_code& ec) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return {};
  }
  return ReadLine(input, ec);
}

}  // namespace kvelv::platform
