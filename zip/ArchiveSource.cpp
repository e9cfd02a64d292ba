#include "zip/ArchiveSource.h"

namespace kvelv {

std::shared_ptr<FileArchiveSource> FileArchiveSource::Open(const std::string& path, std::error_code& ec,
                                                           std::shared_ptr<const ArchiveTransform> transform) {
  platform::File file = platform::File::Open(path, platform::OpenMode::ReadDenyWrite, ec);
  if (!file.IsOpen()) return nullptr;
  return std::shared_ptr<FileArchiveSource>(new FileArchiveSource(std::move(file), std::move(transform)));
}

int64_t FileArchiveSource::ReadAt(int64_t position, void* buffer, int64_t count) const {
  const int64_t got = file_.ReadAt(position, buffer, count);
  if (got <= 0 || transform_ == nullptr) return got;
  auto* bytes = static_cast<uint8_t*>(buffer);
  return transform_->Apply(position, bytes, bytes, static_cast<size_t>(got)) ? got : -1;
}

}  // namespace kvelv
