#pragma once
// A path as the user pasted it into a field: blanks and line ends around it, or quotes a file
// manager or a shell put there, are not part of the path and cannot be seen in the field.
#include <string>

namespace kvelv {

// `text` without the blanks (spaces, tabs, line ends) at both ends, and then without one pair of
// surrounding double or single quotes.
std::string CleanPastedPath(const std::string& text);

}  // namespace kvelv
