#pragma once
// Which file something is, how long it is and when it was last written, finer than the seconds
// of FileInfo: taken before and after a file is read, it tells whether the file changed
// meanwhile (as far as the file system's clock can tell).
#include <cstdint>
#include <optional>
#include <string>

namespace kvelv::platform {

struct FileStamp {
  int64_t size = 0;
  int64_t modified = 0;  // last write, nanoseconds since the Unix epoch
  uint64_t volume = 0;   // the device or volume holding the file
  uint64_t id = 0;       // the file on it (inode, file index)
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file `path` names, links followed; nullopt when it cannot be looked at.
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace kvelv::platform
