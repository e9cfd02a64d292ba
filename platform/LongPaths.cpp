#include "platform/LongPaths.h"

namespace kvelv::platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// `rest` with "\" for "/" and no empty components.
std::string SingleSeparators(std::string_view rest) {
  std::string out;
  out.reserve(rest.size());
  for (char c : rest) {
    if (!IsSeparator(c)) {
      out.push_back(c);
    } else if (out.empty() || out.back() != '\\') {
      out.push_back('\\');
    }
  }
  return out;
}

}  // namespace

std::string ExtendedLengthPath(std::string_view fullPath) {
  const std::string_view path = fullPath;
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[3]) &&
      ((IsSeparator(path[1]) && (path[2] == '?' || path[2] == '.')) || (path[1] == '?' && path[2] == '?'))) {
    return std::string(path);  // extended already, or a device
  }
  if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    return "\\\\?\\" + std::string(path.substr(0, 2)) + SingleSeparators(path.substr(2));
  }
  if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
    return "\\\\?\\UNC" + SingleSeparators(path.substr(1));
  }
  return std::string(path);
}

}  // namespace kvelv::platform
