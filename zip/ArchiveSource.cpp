#include "zip/ArchiveSource.h"

namespace kvelv {

std::shared_ptr<FileArchiveSource> FileArchiveSource::Open(const std::string& path, std::error_code& ec) {
  platform::File file = platform::File::Open(path, platform::OpenMode::ReadDenyWrite, ec);
  if (!file.IsOpen()) return nullptr;
  return std::shared_ptr<FileArchiveSource>(new FileArchiveSource(std::move(file)));
}

}  // namespace kvelv
