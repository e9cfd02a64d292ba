// UTF-8 <-> UTF-16 and Win32 error translation shared by the Win32 implementation.
#include "platform/win32/WinApi.h"

#include <cerrno>

#include "platform/CodePages.h"
#include "platform/LongPaths.h"

namespace kvelv::platform::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  // Decoded by our own reader first, so invalid bytes turn into U+FFFD the same way everywhere.
  std::string clean = EncodeUtf8(DecodeUtf8(utf8));
  int length = MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                      nullptr);
  return utf8;
}

std::wstring WidePath(std::string_view utf8) {
  const std::wstring wide = Widen(utf8.empty() ? std::string_view(".") : utf8);
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;  // extended already: taken as it is
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return wide;
  full.resize(size);
  return Widen(ExtendedLengthPath(Narrow(full)));
}

bool IsDevicePath(const std::wstring& widePath) { return widePath.rfind(L"\\\\.\\", 0) == 0; }

bool SetDeleteDisposition(HANDLE handle, bool deleteIt) {
  // Its one member is named by the headers' DeleteFile macro; set it by position.
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(deleteIt ? TRUE : FALSE)};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

std::error_code ErrorFromWin32(DWORD error) {
  int value = EIO;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      value = ENOENT;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      value = EEXIST;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      value = EACCES;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      value = EBUSY;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      value = ENOSPC;
      break;
    case ERROR_DIRECTORY:
      value = EISDIR;
      break;
    case ERROR_INVALID_HANDLE:
      value = EBADF;
      break;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      value = EINVAL;
      break;
    default:
      break;
  }
  return std::error_code(value, std::generic_category());
}

FILETIME FileTimeFromUnix(int64_t unixSeconds) {
  constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns ticks
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(unixSeconds * 10000000LL + kEpochDifference);
  FILETIME time;
  time.dwLowDateTime = ticks.LowPart;
  time.dwHighDateTime = ticks.HighPart;
  return time;
}

}  // namespace kvelv::platform::win32
