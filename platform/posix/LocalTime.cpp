// Local calendar time through the C library, which follows TZ like the rest of the system.
#include "platform/LocalTime.h"

#include <ctime>
#include <mutex>

namespace kvelv::platform {

namespace {

// Conversions run on several threads at once (extraction workers stamp their files). The C
// library's time zone state has a lock of its own, which checking tools cannot see; this one
// they can, and it costs nothing noticeable.
std::mutex gTimeZoneMutex;

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

LocalDateTime ToLocal(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm {};
  LocalDateTime local;
  std::unique_lock<std::mutex> lock(gTimeZoneMutex);
  tzset();  // localtime_r need not notice a changed TZ by itself; mktime does
  if (localtime_r(&t, &tm) == nullptr) return local;
  lock.unlock();
  local.year = tm.tm_year + 1900;
  local.month = tm.tm_mon + 1;
  local.day = tm.tm_mday;
  local.hour = tm.tm_hour;
  local.minute = tm.tm_min;
  local.second = tm.tm_sec;
  return local;
}

bool FromLocal(const LocalDateTime& local, int64_t& unixSeconds) {
  // mktime would quietly normalise day 0 or month 13; such a date names no time.
  if (local.month < 1 || local.month > 12 || local.day < 1 || local.day > 31 || local.hour < 0 ||
      local.hour > 23 || local.minute < 0 || local.minute > 59 || local.second < 0 || local.second > 59) {
    return false;
  }
  if (local.day > DaysInMonth(local.year, local.month)) return false;  // 31 February is no date
  struct tm tm {};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;  // let the C library decide whether summer time applies
  struct tm copy = tm;
  std::lock_guard<std::mutex> lock(gTimeZoneMutex);
  time_t t = mktime(&tm);
  // mktime returns -1 both for failure and for one second before the epoch; tell them apart.
  if (t == static_cast<time_t>(-1)) {
    copy.tm_sec -= 1;
    copy.tm_isdst = -1;
    if (mktime(&copy) != static_cast<time_t>(-2)) return false;
  }
  unixSeconds = static_cast<int64_t>(t);
  return true;
}

int64_t NowUnixSeconds() { return static_cast<int64_t>(time(nullptr)); }

}  // namespace kvelv::platform
