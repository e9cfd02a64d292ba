#pragma once
// Turns the writer's list of items (paths, folder entries, wildcard patterns) into the list of
// paths to pack, before anything is written.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvelv {

// Why an item was left out by the expansion (besides not being found).
enum class ExpandSkip { kExcludeList, kArchiveBitNotSet, kNoFileToFreshen };

struct ExpandOptions {
  std::string rootDir;  // put in front of items without a folder part; "" or ends with "/"
  bool recurse = false;  // wildcard items without "|" or ">" also search subfolders
  bool addDirEntriesOnRecurse = false;  // folders met by a subfolder search become folder entries
  uint32_t searchAttributes = 0x1F9;    // a file whose hidden/system/folder bit is not here is unseen
  std::vector<std::string> excludeList;
  std::string archivePath;  // the archive itself is never packed
  bool skipIfArchiveBitNotSet = false;
  // Items with wildcard characters that name no existing file or folder are patterns; an item
  // that names one is always taken as it is.
  bool expandWildcards = true;

  // Hooks; empty ones are not called.
  std::function<bool(const std::string& path)> hasEntryToFreshen;  // set only for freshening
  std::function<void(const std::string& item)> onNoSuchFile;
  std::function<void(const std::string& path, ExpandSkip why)> onSkippingFile;
  std::function<void(const std::string& path)> onRecursingFile;
  std::function<void()> checkCancel;  // may throw to stop a search
};

struct ExpandedList {
  std::vector<std::string> paths;  // in packing order; folder entries keep their trailing "/"
  int64_t totalBytes = 0;          // sizes of the files found
};

// Plain items first, in list order, then the matches of each wildcard item in the order of the
// wildcard items. Empty, missing, hidden/system (per mask) and excluded items are dropped.
// Items ending with "/" (or the system's separator) are folder entries and pass unchanged.
ExpandedList ExpandFileList(const std::vector<std::string>& items, const ExpandOptions& options);

// True when the path (pattern with a folder separator) or its file name matches a pattern.
bool MatchesExcludeList(const std::string& path, const std::vector<std::string>& patterns);

// True when a file with these DOS attributes is seen by a lookup with this search mask.
bool VisibleWithMask(uint32_t attributes, uint32_t searchAttributes);

}  // namespace kvelv
