#include "ui/EncryptTarget.h"

#include <cstdio>

#include "platform/FileSystem.h"

namespace kvelv {

std::string EncryptTargetPath(const std::string& folder, const std::string& file,
                              const platform::LocalDateTime& time) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%04d.%02d.%02d.%02d.%02d.%02d", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return folder + platform::kSeparator + platform::FileNamePart(file) + stamp + ".orvkvelv";
}

bool IsOlderThanAnHour(int64_t modifiedUnixSeconds, int64_t nowUnixSeconds) {
  // The age in days times the minutes of a day, compared with 60 minutes; elapsed time, so a
  // change of daylight saving time in between does not move the limit by an hour.
  const double days = static_cast<double>(nowUnixSeconds - modifiedUnixSeconds) / 86400.0;
  return days * 1440.0 > 60.0;
}

}  // namespace kvelv
