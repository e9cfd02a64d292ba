#pragma once
// One value of an INI file, read and written with the rules of the Windows private-profile
// functions (sections and keys without regard to case, blanks trimmed, one pair of quotes
// removed from a value, ";" comments). Windows uses those functions themselves; elsewhere the
// program's own INI reader and writer follow the same rules. Text is UTF-8.
#include <optional>
#include <string>

namespace kvelv::platform {

// The stored value, or nullopt when the file, the section or the key is missing.
std::optional<std::string> ReadPrivateProfileValue(const std::string& path, const std::string& section,
                                                   const std::string& key);
// Stores the value, creating the file, section or key as needed; false when refused (a
// read-only file, a folder, a folder that cannot be written). Never leaves a half-written file.
bool WritePrivateProfileValue(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& value);

}  // namespace kvelv::platform
