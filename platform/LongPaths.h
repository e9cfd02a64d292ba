#pragma once
// Windows paths past the old limit of 260 characters. The system takes longer paths only in
// their extended-length form, "\\?\" before a full path, which it hands on unchanged (no "/",
// ".", ".." or doubled separators in it, no trailing dots or spaces dropped). The Win32 layer
// makes every path full first (as the system would) and then extends it with this function, so
// a path means the same file in both forms. Pure text: tested on any system.
#include <string>
#include <string_view>

namespace kvelv::platform {

// The extended-length form of the full Windows path `fullPath`: "C:\a" gives "\\?\C:\a",
// "\\server\share\a" gives "\\?\UNC\server\share\a"; "/" is taken for "\" and doubled separators
// are made single. A path already extended ("\\?\", "\??\") or naming a device ("\\.\") comes
// back as it is, and so does one that is not full (relative, "\a", "C:a"), which has no such form.
std::string ExtendedLengthPath(std::string_view fullPath);

}  // namespace kvelv::platform
