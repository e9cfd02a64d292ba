#include "tests/support/SealedTestSupport.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kvelv::test {

int64_t MemoryArchiveSource::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (position < 0 || count < 0) return -1;
  if (position >= Size()) return 0;
  const int64_t n = std::min(count, Size() - position);
  std::memcpy(buffer, bytes_.data() + position, static_cast<size_t>(n));
  return n;
}

std::string SealBytes(const std::string& plain, const std::string& password, bool random, sealed::KdfParams kdf) {
  sealed::SealSettings settings;
  settings.kdf = kdf;
  if (!random) {
    settings.salt.emplace();
    settings.noncePrefix.emplace();
    for (size_t i = 0; i < settings.salt->size(); ++i) (*settings.salt)[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < settings.noncePrefix->size(); ++i) (*settings.noncePrefix)[i] = static_cast<uint8_t>(0x10 + i);
  }
  size_t at = 0;
  std::string out;
  std::string failure;
  const bool ok = sealed::Seal(
      password, settings,
      [&](uint8_t* buffer, int64_t max) {
        const size_t n = std::min(static_cast<size_t>(max), plain.size() - at);
        std::memcpy(buffer, plain.data() + at, n);
        at += n;
        return static_cast<int64_t>(n);
      },
      [&](const uint8_t* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      failure);
  if (!ok) throw std::runtime_error("sealing failed: " + failure);
  return out;
}

}  // namespace kvelv::test
