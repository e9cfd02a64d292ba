#include "zip/InflateDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr size_t kBlock = 32768;
// A large output buffer keeps zlib in its fast loop and saves it copying every byte into its own
// window; the sink still gets blocks of at most kBlock bytes.
constexpr size_t kOutputBuffer = 8 * kBlock;

// The inflate state and buffers of a thread, kept from one entry to the next: archives of many
// small entries would otherwise spend their time setting up and clearing fresh ones. Buffers are
// not zero-filled; only bytes written are read.
class InflateState {
 public:
  InflateState() : input_(new uint8_t[kBlock]), output_(new uint8_t[kOutputBuffer]) {
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw EZCompressionError("error");
  }
  ~InflateState() { inflateEnd(&stream_); }
  InflateState(const InflateState&) = delete;
  InflateState& operator=(const InflateState&) = delete;

  // The state, ready for a new raw deflate stream; nothing of the last one's input is left.
  z_stream* Fresh() {
    if (inflateReset(&stream_) != Z_OK) throw EZCompressionError("error");
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    return &stream_;
  }
  uint8_t* Input() { return input_.get(); }
  uint8_t* Output() { return output_.get(); }

 private:
  z_stream stream_{};
  std::unique_ptr<uint8_t[]> input_;
  std::unique_ptr<uint8_t[]> output_;
};

InflateState& ThreadState() {
  thread_local std::unique_ptr<InflateState> state;
  if (!state) state = std::make_unique<InflateState>();
  return *state;
}

}  // namespace

void Inflate(ByteSource& in, ByteSink& out) {
  InflateState& state = ThreadState();
  z_stream* zs = state.Fresh();
  uint8_t* const input = state.Input();
  uint8_t* const output = state.Output();
  bool inputEnded = false;
  for (;;) {
    if (zs->avail_in == 0 && !inputEnded) {
      size_t got = in.Read(input, kBlock);
      if (got == 0) {
        inputEnded = true;
      } else {
        zs->next_in = input;
        zs->avail_in = static_cast<uInt>(got < kBlock ? got : kBlock);
      }
    }
    // Straight into the sink's memory when it offers enough, else through our own buffer.
    size_t room = 0;
    uint8_t* target = out.Room(room);
    if (target == nullptr || room < kBlock) {
      target = output;
      room = kOutputBuffer;
    }
    zs->next_out = target;
    zs->avail_out = static_cast<uInt>(room);
    int result = inflate(zs, Z_NO_FLUSH);
    // With output room, "no progress" only means zlib wants input that is not there.
    if (result == Z_BUF_ERROR && inputEnded) throw EFatalUnzipError("Premature end of file reached");
    if (result < 0) throw EZCompressionError("error");
    size_t produced = room - zs->avail_out;
    for (size_t at = 0; at < produced; at += kBlock) out.Write(target + at, std::min(kBlock, produced - at));
    if (result == Z_STREAM_END) return;
  }
}

}  // namespace kvelv
