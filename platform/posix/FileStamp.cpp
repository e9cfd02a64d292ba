#include "platform/FileStamp.h"

#include <sys/stat.h>

#include "platform/File.h"

namespace kvelv::platform {

namespace {

FileStamp FromStat(const struct stat& st) {
  FileStamp stamp;
  stamp.size = static_cast<int64_t>(st.st_size);
  stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.volume = static_cast<uint64_t>(st.st_dev);
  stamp.id = static_cast<uint64_t>(st.st_ino);
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return FromStat(st);
}

std::optional<FileStamp> File::Stamp() const {
  struct stat st {};
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  return FromStat(st);
}

}  // namespace kvelv::platform
