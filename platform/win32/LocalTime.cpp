// Local calendar time through the Windows time-zone functions, which apply the summer-time
// rule of the date in question.
#include "platform/LocalTime.h"

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

constexpr int64_t kEpochDifference = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

LocalDateTime ToLocal(int64_t unixSeconds) {
  LocalDateTime local;
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(unixSeconds * kTicksPerSecond + kEpochDifference);
  FILETIME utc{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME utcParts{};
  SYSTEMTIME localParts{};
  if (!FileTimeToSystemTime(&utc, &utcParts) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts)) {
    return local;
  }
  local.year = localParts.wYear;
  local.month = localParts.wMonth;
  local.day = localParts.wDay;
  local.hour = localParts.wHour;
  local.minute = localParts.wMinute;
  local.second = localParts.wSecond;
  return local;
}

bool FromLocal(const LocalDateTime& local, int64_t& unixSeconds) {
  if (local.year < 1601 || local.year > 30827 || local.month < 1 || local.month > 12 || local.day < 1 ||
      local.day > 31 || local.hour < 0 || local.hour > 23 || local.minute < 0 || local.minute > 59 ||
      local.second < 0 || local.second > 59) {
    return false;
  }
  if (local.day > DaysInMonth(local.year, local.month)) return false;
  SYSTEMTIME localParts{};
  localParts.wYear = static_cast<WORD>(local.year);
  localParts.wMonth = static_cast<WORD>(local.month);
  localParts.wDay = static_cast<WORD>(local.day);
  localParts.wHour = static_cast<WORD>(local.hour);
  localParts.wMinute = static_cast<WORD>(local.minute);
  localParts.wSecond = static_cast<WORD>(local.second);
  SYSTEMTIME utcParts{};
  FILETIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts) || !SystemTimeToFileTime(&utcParts, &utc)) {
    return false;
  }
  ULARGE_INTEGER ticks;
  ticks.LowPart = utc.dwLowDateTime;
  ticks.HighPart = utc.dwHighDateTime;
  unixSeconds = (static_cast<int64_t>(ticks.QuadPart) - kEpochDifference) / kTicksPerSecond;
  return true;
}

int64_t NowUnixSeconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return (static_cast<int64_t>(ticks.QuadPart) - kEpochDifference) / kTicksPerSecond;
}

}  // namespace kvelv::platform
