#include "ui/ShortenPath.h"

namespace kvelv {

namespace {

// One step on the folder part: "\a\b\" -> "\...\b\", "\...\b\" -> "\...\", "...\" -> "".
std::string ShortenFolderPart(std::string folder, char sep) {
  const std::string single(1, sep);
  const std::string ellipsis = "..." + single;
  if (folder == single) return "";
  std::string lead;
  if (!folder.empty() && folder.front() == sep) {
    lead = single;
    folder.erase(0, 1);
  }
  if (folder.compare(0, ellipsis.size(), ellipsis) == 0) folder.erase(0, ellipsis.size());
  const std::size_t next = folder.find(sep);
  folder = next == std::string::npos ? std::string() : ellipsis + folder.substr(next + 1);
  return lead + folder;
}

}  // namespace

std::string ShortenPath(const std::string& path, const std::function<bool(const std::string&)>& fits,
                        char separator) {
  std::string drive;
  if (separator == '\\' && path.size() >= 2 && path[1] == ':') drive = path.substr(0, 2);
  const std::string rest = path.substr(drive.size());
  const std::size_t last = rest.rfind(separator);
  std::string folder = last == std::string::npos ? std::string() : rest.substr(0, last + 1);
  const std::string name = last == std::string::npos ? rest : rest.substr(last + 1);

  const std::string rootEllipsis = std::string(1, separator) + "..." + separator;
  while (!fits(drive + folder + name) && (!drive.empty() || !folder.empty())) {
    if (folder == rootEllipsis) {
      drive.clear();
      folder = "..." + std::string(1, separator);
    } else if (!folder.empty()) {
      folder = ShortenFolderPart(folder, separator);
    } else {
      drive.clear();
    }
  }
  return drive + folder + name;
}

}  // namespace kvelv
