#pragma once
// <windows.h> for the Win32 implementation, without the macros that clash with our names
// (DeleteFile, min, max). Include only from platform/win32 and Windows-only tests.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef DeleteFile

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace kvelv::platform::win32 {

// UTF-8 to UTF-16 and back; invalid UTF-8 becomes U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// A path for the file-system functions: made full as the system makes it (relative to the
// current folder, "/" read as "\", "." and ".." resolved, trailing dots and spaces of names
// dropped, a device name such as "CON" turned into its "\\.\" form) and then given its
// extended-length form (platform/LongPaths.h), so no path is too long for them.
std::wstring WidePath(std::string_view utf8);
// Whether a path names a device ("\\.\CON" and the like, what "CON" or "C:\x\aux.txt" stand
// for), which is never a file or folder of the program's.
bool IsDevicePath(const std::wstring& widePath);

// Sets or lifts the pending delete of the file open by `handle` (which has delete access): the
// system deletes a file so marked when its last handle closes, however the process ends.
bool SetDeleteDisposition(HANDLE handle, bool deleteIt);

// A Win32 error as the portable error code the callers compare (no_such_file_or_directory,
// file_exists, permission_denied, device_or_resource_busy for a sharing violation, ...).
std::error_code ErrorFromWin32(DWORD error);

// Seconds since the Unix epoch as a FILETIME (100 ns ticks since 1601).
FILETIME FileTimeFromUnix(int64_t unixSeconds);

}  // namespace kvelv::platform::win32
