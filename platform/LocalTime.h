#pragma once
// Conversions between file times and the local calendar time used in DOS date/time fields.
#include <cstdint>

namespace kvelv::platform {

struct LocalDateTime {
  int year = 1980;  // full year
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalDateTime ToLocal(int64_t unixSeconds);
// Returns false when a field is out of range (month 13, day 0, ...) or the time cannot be
// represented.
bool FromLocal(const LocalDateTime& local, int64_t& unixSeconds);
int64_t NowUnixSeconds();

}  // namespace kvelv::platform
