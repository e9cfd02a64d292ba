// Settings values through GetPrivateProfileStringW / WritePrivateProfileStringW.
#include "platform/PrivateProfile.h"

#include <vector>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::Narrow;
using win32::Widen;

// The functions read through 2048 characters; a default no file contains tells a missing key
// from an empty value.
constexpr DWORD kBufferLength = 2048;
constexpr wchar_t kMissing[] = L"\x1F" L"kvelv-missing" L"\x1F";

// A new settings file starts with a UTF-16 byte-order mark, so the functions keep every
// character of a value instead of squeezing it into the ANSI code page.
bool CreateUnicodeFile(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  static constexpr unsigned char kBom[] = {0xFF, 0xFE};
  DWORD written = 0;
  bool ok = WriteFile(handle, kBom, sizeof kBom, &written, nullptr) && written == sizeof kBom;
  CloseHandle(handle);
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

}  // namespace

std::optional<std::string> ReadPrivateProfileValue(const std::string& path, const std::string& section,
                                                   const std::string& key) {
  std::wstring widePath = Widen(path);
  DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  std::vector<wchar_t> buffer(kBufferLength);
  DWORD length = GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), kMissing, buffer.data(),
                                          kBufferLength, widePath.c_str());
  std::wstring value(buffer.data(), length);
  if (value == kMissing) return std::nullopt;
  return Narrow(value);
}

bool WritePrivateProfileValue(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& value) {
  std::wstring widePath = Widen(path);
  DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  if (attributes == INVALID_FILE_ATTRIBUTES && !CreateUnicodeFile(widePath)) return false;
  // A line break would end the value and start a line of its own.
  std::string oneLine = value.substr(0, value.find_first_of("\r\n"));
  return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(oneLine).c_str(),
                                    widePath.c_str()) != 0;
}

}  // namespace kvelv::platform
