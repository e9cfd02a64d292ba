#include "zip/InflateDecoder.h"

#include <zlib.h>

#include <vector>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr size_t kBlock = 32768;

class InflateStream {
 public:
  InflateStream() {
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw EZCompressionError("error");
  }
  ~InflateStream() { inflateEnd(&stream_); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  z_stream* operator->() { return &stream_; }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

}  // namespace

void Inflate(ByteSource& in, ByteSink& out) {
  InflateStream zs;
  std::vector<uint8_t> input(kBlock);
  std::vector<uint8_t> output(kBlock);
  bool inputEnded = false;
  for (;;) {
    if (zs->avail_in == 0 && !inputEnded) {
      size_t got = in.Read(input.data(), input.size());
      if (got == 0) {
        inputEnded = true;
      } else {
        zs->next_in = input.data();
        zs->avail_in = static_cast<uInt>(got < kBlock ? got : kBlock);
      }
    }
    zs->next_out = output.data();
    zs->avail_out = static_cast<uInt>(output.size());
    int result = inflate(zs.get(), Z_NO_FLUSH);
    // With output room, "no progress" only means zlib wants input that is not there.
    if (result == Z_BUF_ERROR && inputEnded) throw EFatalUnzipError("Premature end of file reached");
    if (result < 0) throw EZCompressionError("error");
    size_t produced = output.size() - zs->avail_out;
    if (produced > 0) out.Write(output.data(), produced);
    if (result == Z_STREAM_END) return;
  }
}

}  // namespace kvelv
