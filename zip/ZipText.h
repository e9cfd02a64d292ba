#pragma once
// Text helpers of the archive classes: the ASCII-only case-insensitive comparison used for entry
// names and archive paths, the separators of entry names and the split of an in-memory name.
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace kvelv {

// Compares with the letters A-Z matching a-z; every other byte compares by its code.
int CompareTextAscii(std::string_view a, std::string_view b);
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  return CompareTextAscii(a, b) == 0;
}
std::string LowerAscii(std::string_view text);
// Valid UTF-8 of any bytes: invalid sequences become U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// Whether the bytes are valid UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// A file name's bytes as text: valid UTF-8 stays as it is, and every byte that is not part of a
// valid sequence is read as windows-1252 (the code page such names come from most often), so
// different names stay different and the result is always valid UTF-8.
std::string NameBytesAsText(std::string_view bytes);

// The separator of entry names in memory: the system's own, so that on POSIX a "\\" in a file
// name is an ordinary character and comes back as it went in.
inline constexpr char kEntrySeparator = platform::kSeparator;
// What ends a folder in an entry name: "/" always; on Windows "\\" too, and the colon of a
// leading drive ("C:"). Any other ":" is a character of the name, made safe where the file is
// written (zip/TargetNames.h).
#ifdef _WIN32
inline constexpr std::string_view kEntryNameBreaks = "\\/";
#else
inline constexpr std::string_view kEntryNameBreaks = "/";
#endif
// Where the file-name part of `name` starts after its last name break; npos when it has none.
size_t LastNameBreak(std::string_view name);

// Splits an entry name at its last name break: `fileName` is what follows it, `directory` what
// precedes it with kEntrySeparator appended (empty when there is nothing before it).
void SplitEntryName(std::string_view name, std::string& directory, std::string& fileName);

}  // namespace kvelv
