#include "zip/InflateDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr size_t kBlock = 32768;
// A large output buffer keeps zlib in its fast loop and saves it copying every byte into its own
// window; the sink still gets blocks of at most kBlock bytes.
constexpr size_t kOutputBuffer = 8 * kBlock;

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
  std::vector<uint8_t> output(kOutputBuffer);
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
    // Straight into the sink's memory when it offers enough, else through our own buffer.
    size_t room = 0;
    uint8_t* target = out.Room(room);
    if (target == nullptr || room < kBlock) {
      target = output.data();
      room = output.size();
    }
    zs->next_out = target;
    zs->avail_out = static_cast<uInt>(room);
    int result = inflate(zs.get(), Z_NO_FLUSH);
    // With output room, "no progress" only means zlib wants input that is not there.
    if (result == Z_BUF_ERROR && inputEnded) throw EFatalUnzipError("Premature end of file reached");
    if (result < 0) throw EZCompressionError("error");
    size_t produced = room - zs->avail_out;
    for (size_t at = 0; at < produced; at += kBlock) out.Write(target + at, std::min(kBlock, produced - at));
    if (result == Z_STREAM_END) return;
  }
}

}  // namespace kvelv
