#include "zip/common/DosDateTime.h"

namespace kvelv {

uint32_t MakeDosDateTime(const platform::LocalDateTime& t) {
  if (t.year < 1980 || t.year > 2107) return kDosDateTimeInvalid;
  const uint32_t time = static_cast<uint32_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
  const uint32_t date = static_cast<uint32_t>((t.year - 1980) * 512 + t.month * 32 + t.day);
  return (date << 16) | (time & 0xFFFF);
}

platform::LocalDateTime SplitDosDateTime(uint32_t v) {
  const uint32_t time = v & 0xFFFF;
  const uint32_t date = v >> 16;
  platform::LocalDateTime t;
  t.second = static_cast<int>(time & 31) * 2;
  t.minute = static_cast<int>((time >> 5) & 63);
  t.hour = static_cast<int>(time >> 11);
  t.day = static_cast<int>(date & 31);
  t.month = static_cast<int>((date >> 5) & 15);
  t.year = static_cast<int>(date >> 9) + 1980;
  return t;
}

uint32_t DosDateTimeFromUnix(int64_t unixSeconds) {
  return MakeDosDateTime(platform::ToLocal(unixSeconds));
}

bool UnixFromDosDateTime(uint32_t dosDateTime, int64_t& unixSeconds) {
  const platform::LocalDateTime t = SplitDosDateTime(dosDateTime);
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59)
    return false;
  return platform::FromLocal(t, unixSeconds);
}

uint32_t NormalizeDosDateTime(uint32_t v) {
  platform::LocalDateTime t = SplitDosDateTime(v);
  bool clamped = false;
  auto clampAbove = [&clamped](int& part, int limit) {
    if (part > limit) {
      part = limit;
      clamped = true;
    }
  };
  clampAbove(t.hour, 23);
  clampAbove(t.minute, 59);
  clampAbove(t.second, 59);
  clampAbove(t.year, 2099);
  clampAbove(t.month, 12);
  if (t.month == 0) {
    t.month = 1;
    clamped = true;
  }
  if (t.day == 0) {
    t.day = 1;
    clamped = true;
  }
  return clamped ? MakeDosDateTime(t) : v;
}

}  // namespace kvelv
