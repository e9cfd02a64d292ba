#include "zip/codec/EntryData.h"

#include <vector>

namespace kvelv {

void StoreEntryData(const SourceReader& read, const ArchiveWriter& write) {
  std::vector<uint8_t> block(kStoreBlockSize);
  for (;;) {
    size_t got = read(block.data(), block.size());
    if (got == 0) break;
    write(block.data(), got);
  }
}

uint64_t DeflateBound(uint64_t size) {
  // Incompressible input ends up in stored blocks of at most 65535 bytes with a 5-byte head each;
  // zlib's own bound is tighter than this. 1 KiB covers the final block and bit padding.
  return size + (size / 16000 + 1) * 5 + 1024;
}

}  // namespace kvelv
