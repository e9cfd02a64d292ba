#include "zip/ExtractPaths.h"

#include "platform/FileSystem.h"
#include "zip/ZipText.h"

namespace kvelv {

namespace {

bool IsNameSeparator(char c) { return kEntryNameBreaks.find(c) != std::string_view::npos; }

// Both sides with one separator, so prefixes match whichever separator they were written with.
std::string WithOneSeparator(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsNameSeparator(c)) c = kEntrySeparator;
  }
  return out;
}

}  // namespace

std::optional<std::vector<std::string>> SafeEntryFolders(std::string_view directory,
                                                         const std::vector<std::string>& relativePathList) {
  std::string dir = WithOneSeparator(directory);
  for (const std::string& prefix : relativePathList) {
    std::string p = WithOneSeparator(prefix);
    if (!p.empty() && dir.size() >= p.size() && SameTextAscii(std::string_view(dir).substr(0, p.size()), p)) {
      dir.erase(0, p.size());
      break;
    }
  }
  if (kEntrySeparator == '\\' && dir.size() >= 2 && dir[1] == ':') dir.erase(0, 2);  // a drive

  std::vector<std::string> folders;
  size_t start = 0;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i < dir.size() && !IsNameSeparator(dir[i])) continue;
    std::string component = dir.substr(start, i - start);
    start = i + 1;
    if (component.empty() || component == ".") continue;
    if (component == ".." || component.find('\0') != std::string::npos) return std::nullopt;
    folders.push_back(std::move(component));
  }
  return folders;
}

std::string JoinOutputPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + platform::kSeparator + name;
}

}  // namespace kvelv
