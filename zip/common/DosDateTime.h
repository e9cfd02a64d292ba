#pragma once
// DOS date and time as stored in archive headers: one 32-bit value, time in the low 16 bits
// (hour*2048 + minute*32 + second/2), date in the high 16 bits ((year-1980)*512 + month*32 + day).
#include <cstdint>

#include "platform/LocalTime.h"

namespace kvelv {

// All bits set: the value written for a time that has no DOS form.
inline constexpr uint32_t kDosDateTimeInvalid = 0xFFFFFFFF;

// Packs a local calendar time; kDosDateTimeInvalid when the year is outside 1980..2107.
uint32_t MakeDosDateTime(const platform::LocalDateTime& local);
// Unpacks the fields as stored, without any range check.
platform::LocalDateTime SplitDosDateTime(uint32_t dosDateTime);

// A file time (seconds since the Unix epoch, UTC) in local DOS form; kDosDateTimeInvalid when
// it cannot be expressed (before 1980).
uint32_t DosDateTimeFromUnix(int64_t unixSeconds);
// The local time of a DOS value as Unix seconds; false when the calendar time is impossible.
bool UnixFromDosDateTime(uint32_t dosDateTime, int64_t& unixSeconds);

// Clamps every part into range (hour 23, minute 59, second 58, year 2099, month 1..12, day >= 1).
// A value that needs no clamping is returned bit for bit.
uint32_t NormalizeDosDateTime(uint32_t dosDateTime);

}  // namespace kvelv
