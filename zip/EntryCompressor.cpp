#include "zip/EntryCompressor.h"

#include <zlib.h>

#include <memory>
#include <vector>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

void Check(int result) {
  if (result < 0) throw EZCompressionError("error");
}

// Ends the deflate state on every way out, exceptions included.
struct DeflateState {
  z_stream stream{};
  bool open = false;
  ~DeflateState() {
    if (open) deflateEnd(&stream);
  }
};

}  // namespace

void DeflateEntryData(int level, const SourceReader& read, const ArchiveWriter& write) {
  std::vector<uint8_t> input(kDeflateBufferSize);
  std::vector<uint8_t> output(kDeflateBufferSize);
  DeflateState state;
  z_stream& zs = state.stream;
  Check(deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY));
  state.open = true;

  int flush = Z_NO_FLUSH;
  zs.next_out = output.data();
  zs.avail_out = static_cast<uInt>(output.size());
  for (;;) {
    if (zs.avail_in == 0 && flush == Z_NO_FLUSH) {
      size_t got = read(input.data(), input.size());
      zs.next_in = input.data();
      zs.avail_in = static_cast<uInt>(got);
      if (got == 0) flush = Z_FINISH;
    }
    int result = deflate(&zs, flush);
    Check(result);
    size_t produced = output.size() - zs.avail_out;
    if (produced > 0 && (zs.avail_out == 0 || flush == Z_FINISH)) {
      write(output.data(), produced);
      zs.next_out = output.data();
      zs.avail_out = static_cast<uInt>(output.size());
    }
    if (result == Z_STREAM_END) break;
  }
  Check(deflateEnd(&zs));
  state.open = false;
}

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
