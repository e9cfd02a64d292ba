#pragma once
// Writes a sealed container: the header with its tag, then the plaintext in sealed chunks of
// 64 KiB, the last one flagged. Reads ahead by one chunk to know which one is the last; memory
// stays at two chunks whatever the size.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "jobs/sealed/SealedFormat.h"
#include "zip/ArchiveSource.h"

namespace kvelv::sealed {

struct SealSettings {
  KdfParams kdf = kDefaultKdf;
  // Random unless given (tests and the known-answer container fix them).
  std::optional<std::array<uint8_t, kSaltSize>> salt;
  std::optional<std::array<uint8_t, kNoncePrefixSize>> noncePrefix;
  // SealSourceTo calls it at the start, after every MiB of the archive read and once more before
  // the finished container replaces the target, with the archive bytes read so far and the
  // archive's size; false stops it, which then fails (nothing written, an existing target
  // untouched) with `cancelled` set.
  std::function<bool(int64_t done, int64_t total)> progress;
};

// Up to `max` bytes into `buffer`; 0 at the end, -1 on a read error.
using ReadFunction = std::function<int64_t(uint8_t* buffer, int64_t max)>;
// All `size` bytes, or false with the reason in the writer's own failure text.
using WriteFunction = std::function<bool(const uint8_t* data, size_t size)>;

// Seals what `read` gives until it ends. False with `failure` set when the settings are out of
// range, the key derivation fails, a read fails (`failure` then says "cannot read") or a write
// fails (`failure` is left for the writer to fill).
bool Seal(std::string_view password, const SealSettings& settings, const ReadFunction& read,
          const WriteFunction& write, std::string& failure);

// Seals the archive read from `source` (named `sourceName` in messages) into the container
// `target`, written beside it as a partial file (platform/PartialFile.h) and renamed into place
// when complete: a failure, a cancel, a signal or a kill leaves the old target and no part.
// 1 on success, 0 with `failure` set.
int SealSourceTo(const ArchiveSource& source, const std::string& sourceName, const std::string& target,
                 std::string_view password, const SealSettings& settings, std::string& failure,
                 bool* cancelled = nullptr);
// The same for the file `source`.
int SealFileTo(const std::string& source, const std::string& target, std::string_view password,
               const SealSettings& settings, std::string& failure);

}  // namespace kvelv::sealed
