#include "ui/PastedPath.h"

namespace kvelv {

std::string CleanPastedPath(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  std::string path = text.substr(first, text.find_last_not_of(blanks) - first + 1);
  if (path.size() >= 2 && (path.front() == '"' || path.front() == '\'') && path.back() == path.front())
    path = path.substr(1, path.size() - 2);
  return path;
}

}  // namespace kvelv
