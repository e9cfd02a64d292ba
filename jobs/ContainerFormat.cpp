#include "jobs/ContainerFormat.h"

#include "jobs/sealed/SealedFormat.h"
#include "platform/File.h"

namespace kvelv {

bool IsSealedContainer(const std::string& path) {
  std::error_code ec;
  platform::File file = platform::File::Open(path, platform::OpenMode::ReadDenyNone, ec);
  if (!file.IsOpen()) return false;
  uint8_t start[sealed::kMagic.size()];
  const int64_t got = file.ReadAt(0, start, sizeof start);
  return got == static_cast<int64_t>(sizeof start) && sealed::HasMagic(start, sizeof start);
}

}  // namespace kvelv
