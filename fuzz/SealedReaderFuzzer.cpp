// Fuzz harness: the sealed container reader. The input's first bytes choose an operation, the
// rest is a plaintext that is sealed with cheap Argon2id parameters and then changed: left
// alone, one byte flipped, or cut short; or the input is taken as a container as it stands.
// A container left alone must read back exactly, at any offsets; any change must be refused
// when it is opened, read or verified. Nothing may crash or read out of bounds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "jobs/sealed/SealedSource.h"
#include "jobs/sealed/SealedWriter.h"
#include "zip/ArchiveSource.h"

namespace {

using namespace kvelv::sealed;

class Bytes final : public kvelv::ArchiveSource {
 public:
  explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override {
    if (position < 0 || count < 0) return -1;
    if (position >= Size()) return 0;
    const int64_t n = std::min(count, Size() - position);
    std::memcpy(buffer, bytes_.data() + position, static_cast<size_t>(n));
    return n;
  }

 private:
  std::string bytes_;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

std::string SealString(const std::string& plain) {
  SealSettings settings;
  settings.kdf = {8, 1, 1};
  settings.salt.emplace();
  settings.noncePrefix.emplace();
  size_t at = 0;
  std::string out, failure;
  const bool ok = Seal(
      "fuzz", settings,
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
  if (!ok) Fail("sealing failed");
  return out;
}

// Reads all of `source` in pieces whose sizes and order come from `pattern`; false on a failure.
bool ReadAll(const SealedSource& source, const std::string& pattern, std::string& out) {
  const int64_t size = source.Size();
  out.assign(static_cast<size_t>(size), '\0');
  size_t turn = 0;
  for (int64_t at = 0; at < size;) {
    const uint8_t p = pattern.empty() ? 0 : static_cast<uint8_t>(pattern[turn++ % pattern.size()]);
    const int64_t want = std::min<int64_t>(size - at, 1 + (int64_t{p} * 997) % 70000);
    if (source.ReadAt(at, out.data() + at, want) != want) return false;
    // Now and then a read further back, through the cache.
    if (p & 1) {
      char probe[64];
      const int64_t back = at / 2, n = std::min<int64_t>(64, size - back);
      if (source.ReadAt(back, probe, n) != n || std::memcmp(probe, out.data() + back, static_cast<size_t>(n)) != 0)
        return false;
    }
    at += want;
  }
  std::string failure;
  return source.VerifyRemaining(failure);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int op = data[0] % 4;
  const size_t position = static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8 |
                          static_cast<size_t>(data[3]) << 16;
  const std::string plain(reinterpret_cast<const char*>(data) + 4, size - 4);
  std::string container = op == 3 ? plain : SealString(plain);
  bool changed = op == 3;
  if (op == 1) {
    size_t at = position % container.size();
    // Argon2id's fields take only cheap values here (a flip of a high byte of the memory field
    // would ask for up to 1 GiB, which is allowed and merely slow).
    if (at >= 12 && at < 24) at = at < 18 ? 12 : 16;
    container[at] ^= static_cast<char>(data[1] | 1);
    changed = true;
  } else if (op == 2 && position % container.size() != 0) {
    container.resize(container.size() - position % container.size());
    changed = true;
  }
  std::string failure;
  auto source = SealedSource::Open(std::make_shared<Bytes>(container), "fuzz", failure);
  if (!source) {
    if (!changed) Fail("an unchanged container does not open");
    return 0;
  }
  std::string back;
  const bool read = ReadAll(*source, plain, back);
  if (!changed && (!read || back != plain)) Fail("an unchanged container does not read back");
  if (changed && read) Fail("a changed container was read through");
  return 0;
}
