#pragma once
// File-name patterns as the archive writer understands them: "*" any run of characters, "?" any
// one character, "<...>" one character out of a set of characters and ranges ("<a-c>", "<!x>",
// "<^0-9>"). Matching ignores letter case (both sides are lowercased, national letters too).
#include <string>
#include <string_view>

namespace kvelv {

// True when the whole of `text` matches `pattern`. A set without its closing ">" matches nothing.
bool WildcardMatch(std::string_view text, std::string_view pattern);

// Matches a file name the way a folder search does: a name without an extension is matched with
// "." appended (so "*." selects files without an extension) and the pattern "*.*" means "*".
bool FileNameMatches(std::string_view fileName, std::string_view pattern);

// True when `text` holds one of the characters that make a list item a wildcard item:
// "*", "?", "<", ">", "|".
bool HasWildcards(std::string_view text);

// Lowercases letters of the Latin, Greek and Cyrillic alphabets; other characters unchanged.
std::u32string LowerCaseText(std::u32string_view text);

}  // namespace kvelv
