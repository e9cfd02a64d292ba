#pragma once
// Text helpers of the archive classes: the ASCII-only case-insensitive comparison used for entry
// names and archive paths, and the split of an in-memory entry name.
#include <string>
#include <string_view>

namespace kvelv {

// Compares with the letters A-Z matching a-z; every other byte compares by its code.
int CompareTextAscii(std::string_view a, std::string_view b);
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  return CompareTextAscii(a, b) == 0;
}
std::string LowerAscii(std::string_view text);
// Valid UTF-8 of any bytes: invalid sequences become U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// Splits an entry name at its last "\", "/" or ":": `fileName` is what follows it, `directory`
// what precedes it with "\" appended (empty when there is nothing before it).
void SplitEntryName(std::string_view name, std::string& directory, std::string& fileName);

}  // namespace kvelv
