#include "zip/pack/FileListExpander.h"

#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "zip/common/WildcardMatch.h"

namespace kvelv {

namespace {

using platform::FileInfo;

// "/" ends a folder item everywhere, and "\\" too where it is the separator; on POSIX it is an
// ordinary character of a file name.
bool EndsWithSeparator(const std::string& item) {
  return !item.empty() && (item.back() == '/' || item.back() == platform::kSeparator);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + '/' + name;
}

std::vector<std::string> SplitFolder(const std::string& folder) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t slash = folder.find('/', start);
    parts.push_back(folder.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

bool SamePath(const std::string& a, const std::string& b) {
  if (b.empty()) return false;
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

class Expander {
 public:
  Expander(const ExpandOptions& options, ExpandedList& out)
      : options_(options), out_(out), archiveExists_(platform::FileExists(options.archivePath)) {}

  void AddPlainItem(std::string item) {
    if (item.empty()) {
      NoSuchFile(item);
      return;
    }
    if (EndsWithSeparator(item)) {
      out_.paths.push_back(item);
      return;
    }
    if (platform::FolderPart(item).empty() && item.front() != '/') item = options_.rootDir + item;
    if (MatchesExcludeList(item, options_.excludeList)) {
      Skip(item, ExpandSkip::kExcludeList);
      return;
    }
    auto info = platform::GetFileInfo(item);
    if (!info || !VisibleWithMask(info->attributes, options_.searchAttributes)) {
      NoSuchFile(item);
      return;
    }
    if (!PassesArchiveRules(item, *info)) return;
    out_.paths.push_back(item);
    out_.totalBytes += info->size;
  }

  void ExpandWildcardItem(std::string item) {
    bool subfolders = options_.recurse;
    if (!item.empty() && (item.front() == '|' || item.front() == '>')) {
      subfolders = item.front() == '>';
      item.erase(0, 1);
    }
    size_t slash = item.rfind('/');
    std::string folder = slash == std::string::npos ? options_.rootDir : item.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? item : item.substr(slash + 1);
    if (pattern == "*.*") pattern.erase(1);  // "*.*" means "*"

    std::vector<std::string> folders;
    if (HasWildcards(folder)) {
      folders = MatchFolders(folder);
    } else if (folder.empty() || platform::FolderExists(folder)) {
      folders.push_back(folder);
    } else {
      NoSuchFile(item);
      return;
    }
    for (const auto& found : folders) Search(found, pattern, subfolders);
  }

 private:
  void NoSuchFile(const std::string& item) {
    if (options_.onNoSuchFile) options_.onNoSuchFile(item);
  }
  void Skip(const std::string& path, ExpandSkip why) {
    if (options_.onSkippingFile) options_.onSkippingFile(path, why);
  }

  bool PassesArchiveRules(const std::string& path, const FileInfo& info) {
    if (options_.skipIfArchiveBitNotSet && (info.attributes & platform::kAttrArchive) == 0) {
      Skip(path, ExpandSkip::kArchiveBitNotSet);
      return false;
    }
    if (options_.hasEntryToFreshen && !options_.hasEntryToFreshen(path)) {
      Skip(path, ExpandSkip::kNoFileToFreshen);
      return false;
    }
    return true;
  }

  // Folders matching a folder part with wildcards, one level at a time, in listing order.
  std::vector<std::string> MatchFolders(const std::string& folderPart) {
    std::string trimmed = folderPart;
    if (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
    std::vector<std::string> parts = SplitFolder(trimmed);
    std::vector<std::string> current{""};
    bool first = true;
    for (const auto& part : parts) {
      std::vector<std::string> next;
      for (const auto& base : current) {
        if (first && part.empty()) {
          next.push_back("/");  // absolute path
        } else if (!HasWildcards(part)) {
          next.push_back(Join(base, part));
        } else {
          auto entries = platform::ListFolder(base.empty() ? "." : base);
          if (!entries) continue;
          for (const auto& entry : *entries) {
            if (entry.IsFolder() && VisibleWithMask(entry.attributes, options_.searchAttributes) &&
                WildcardMatch(entry.name, part)) {
              next.push_back(Join(base, entry.name));
            }
          }
        }
      }
      first = false;
      current = std::move(next);
    }
    std::vector<std::string> existing;
    for (auto& folder : current) {
      if (platform::FolderExists(folder)) existing.push_back(folder);
    }
    return existing;
  }

  void Search(const std::string& folder, const std::string& pattern, bool subfolders) {
    auto entries = platform::ListFolder(folder.empty() ? "." : folder);
    if (!entries) return;
    for (const auto& entry : *entries) {
      if (!VisibleWithMask(entry.attributes, options_.searchAttributes)) continue;
      std::string path = Join(folder, entry.name);
      if (entry.IsFolder()) {
        // A linked folder may point back up the tree; following it could never end.
        if (!subfolders || platform::IsSymlink(path)) continue;
        if (options_.addDirEntriesOnRecurse) out_.paths.push_back(path + '/');
        Search(path, pattern, subfolders);
        continue;
      }
      if (!FileNameMatches(entry.name, pattern)) continue;
      if (options_.onRecursingFile) options_.onRecursingFile(path);
      if (MatchesExcludeList(path, options_.excludeList)) {
        Skip(path, ExpandSkip::kExcludeList);
        continue;
      }
      if (options_.checkCancel) options_.checkCancel();
      if (archiveExists_ && SamePath(path, options_.archivePath)) continue;
      if (!PassesArchiveRules(path, entry)) continue;
      out_.paths.push_back(path);
      out_.totalBytes += entry.size;
    }
  }

  const ExpandOptions& options_;
  ExpandedList& out_;
  const bool archiveExists_;  // a new archive cannot be found by the search
};

// Whether the item, resolved as a plain item would be, names an existing file or folder.
bool NamesSomething(const std::string& item, const std::string& rootDir) {
  const bool bare = platform::FolderPart(item).empty() && !item.empty() && item.front() != '/';
  return platform::GetFileInfo(bare ? rootDir + item : item).has_value();
}

}  // namespace

bool VisibleWithMask(uint32_t attributes, uint32_t searchAttributes) {
  constexpr uint32_t kRestricting = platform::kAttrHidden | platform::kAttrSystem | platform::kAttrFolder;
  return (attributes & kRestricting & ~searchAttributes) == 0;
}

bool MatchesExcludeList(const std::string& path, const std::vector<std::string>& patterns) {
  for (const auto& raw : patterns) {
    if (raw.empty()) continue;
    std::string pattern = raw;
    bool wholePath = false;
    for (char& c : pattern) {
      if (c == '\\' || c == '/') {
        c = '/';
        wholePath = true;
      }
    }
    if (wholePath ? WildcardMatch(path, pattern) : FileNameMatches(platform::FileNamePart(path), pattern)) {
      return true;
    }
  }
  return false;
}

ExpandedList ExpandFileList(const std::vector<std::string>& items, const ExpandOptions& options) {
  ExpandedList result;
  Expander expander(options, result);
  std::vector<std::string> wildcardItems;
  for (const auto& item : items) {
    // A name that exists is that file or folder, whatever characters it holds (all of "?*<>|"
    // are ordinary in POSIX file names); only an item that names nothing is a pattern.
    if (options.expandWildcards && HasWildcards(item) && !NamesSomething(item, options.rootDir)) {
      wildcardItems.push_back(item);
    } else {
      expander.AddPlainItem(item);
    }
  }
  for (const auto& item : wildcardItems) expander.ExpandWildcardItem(item);
  return result;
}

}  // namespace kvelv
