#pragma once
// The system's ANSI (windows-1252) and OEM (code page 850) conversions, done the way Windows
// does them. Text is UTF-8; "bytes" are single-byte code-page strings. Characters without a
// mapping become "?".
#include <string>
#include <string_view>

#include "platform/SecretBytes.h"

namespace kvelv::platform {

std::string AnsiFromUtf8(std::string_view utf8, bool* allMapped = nullptr);
// The same for a secret (a password): the result is secret too, and no other copy of the text is
// made on the way.
SecretBytes AnsiFromUtf8(const SecretBytes& utf8, bool* allMapped = nullptr);
std::string Utf8FromAnsi(std::string_view ansi);
std::string OemFromUtf8(std::string_view utf8, bool* allMapped = nullptr);
std::string Utf8FromOem(std::string_view oem);
// Character-to-OEM and OEM-to-character conversions between the two byte forms.
std::string OemFromAnsi(std::string_view ansi);
std::string AnsiFromOem(std::string_view oem);

// Decodes UTF-8, replacing invalid sequences byte by byte with U+FFFD. Helpers for the above.
std::u32string DecodeUtf8(std::string_view utf8);
// The character at `position` (U+FFFD for an invalid byte), and `position` moved past it.
// `position` must be before the end.
char32_t DecodeUtf8Char(std::string_view utf8, size_t& position);
std::string EncodeUtf8(std::u32string_view text);

// Every letter in its upper-case form, one character for one, as file systems that ignore letter
// case compare names ("Ø.txt" and "ø.txt" name one file there).
std::string UpperCase(std::string_view utf8);

}  // namespace kvelv::platform
