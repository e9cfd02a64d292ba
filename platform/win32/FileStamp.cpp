#include "platform/FileStamp.h"

#include "platform/File.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

// 100 ns ticks from 1601 to 1970.
constexpr int64_t kEpochTicks = 116444736000000000;

std::optional<FileStamp> FromHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  FileStamp stamp;
  stamp.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  const auto ticks = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                          info.ftLastWriteTime.dwLowDateTime);
  stamp.modified = (ticks - kEpochTicks) * 100;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  // Attributes only: stands in the way of no other opener.
  HANDLE handle = CreateFileW(win32::WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<FileStamp> stamp = FromHandle(handle);
  CloseHandle(handle);
  return stamp;
}

std::optional<FileStamp> File::Stamp() const {
  if (handle_ == -1) return std::nullopt;
  return FromHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace kvelv::platform
