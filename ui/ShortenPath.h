#pragma once
// Shortens a path for a status line by replacing leading folders with "...".
#include <functional>
#include <string>

namespace kvelv {

// Steps through drive + folders + name, dropping the leftmost folder each time (as
// "<drive><sep>...<sep>rest"), then the drive, until `fits` accepts the text or only the name is
// left. A drive ("C:") is recognised only when `separator` is '\\'.
std::string ShortenPath(const std::string& path, const std::function<bool(const std::string&)>& fits,
                        char separator = '/');

}  // namespace kvelv
