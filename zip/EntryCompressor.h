#pragma once
// Entry data as the writer hands it over: the reading and writing callbacks, stored bytes, and the
// bound of raw deflate output (the deflating itself is zip/ParallelDeflate.h).
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kvelv {

// Fills `buffer` with up to `max` source bytes; returns 0 only at the end. Throws on a read error.
using SourceReader = std::function<size_t(uint8_t* buffer, size_t max)>;
// Takes all `count` bytes or throws (a short write is an error).
using ArchiveWriter = std::function<void(const uint8_t* data, size_t count)>;

inline constexpr size_t kStoreBlockSize = 32768;

// A file being packed is read at most this much at a time: between reads a cancel request is
// seen, which then takes effect soon even when the file comes from slow storage.
inline constexpr size_t kSourceReadSlice = size_t{256} << 10;

// Copies everything `read` yields in 32768-byte blocks.
void StoreEntryData(const SourceReader& read, const ArchiveWriter& write);

// Most bytes raw deflate can make of `size` input bytes at any level (stored blocks plus block
// headers, with room to spare); used to decide Zip64 before any data is written.
uint64_t DeflateBound(uint64_t size);

}  // namespace kvelv
