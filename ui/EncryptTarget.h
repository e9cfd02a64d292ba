#pragma once
// The two time rules of the main window's encrypt action.
#include <cstdint>
#include <string>

#include "platform/LocalTime.h"

namespace kvelv {

// "<folder>/<file name>_yyyy.mm.dd.hh.nn.ss.orvkvelv". The folder is joined as typed, so one
// ending in "/" gives a doubled separator.
std::string EncryptTargetPath(const std::string& folder, const std::string& file,
                              const platform::LocalDateTime& time);

// True when the file was last changed more than an hour before `now` (a file dated in the
// future is not old).
bool IsOlderThanAnHour(int64_t modifiedUnixSeconds, int64_t nowUnixSeconds);

}  // namespace kvelv
