#pragma once
// Where an extracted entry may go. Names in an archive are hostile input: whatever they hold,
// the result stays inside the destination folder.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvelv {

// The folders below the destination that an entry's `directory` part (split at its name breaks)
// asks for, outermost first: without the first `relativePathList` prefix it starts with (letter
// case ignored), on Windows without a leading drive letter and colon, without empty and "."
// components. nullopt when a component is ".." or holds a NUL byte.
std::optional<std::vector<std::string>> SafeEntryFolders(std::string_view directory,
                                                         const std::vector<std::string>& relativePathList);

// `folder` + native separator + `name`; just `name` when `folder` is empty (the current folder).
std::string JoinOutputPath(const std::string& folder, const std::string& name);

}  // namespace kvelv
