#include "zip/codec/ZlibInflater.h"

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

}  // namespace

// Buffers are not zero-filled; only bytes written are read.
struct ZlibInflater::State {
  State() : input(new uint8_t[kBlock]), output(new uint8_t[kOutputBuffer]) {
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) throw EZCompressionError("error");
  }
  ~State() { inflateEnd(&stream); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  z_stream stream{};
  std::unique_ptr<uint8_t[]> input;
  std::unique_ptr<uint8_t[]> output;
};

ZlibInflater::ZlibInflater() : state_(std::make_unique<State>()) {}
ZlibInflater::~ZlibInflater() = default;

void ZlibInflater::Inflate(ByteSource& in, ByteSink& out) {
  z_stream* zs = &state_->stream;
  if (inflateReset(zs) != Z_OK) throw EZCompressionError("error");
  zs->next_in = nullptr;  // nothing of the last stream's input is left
  zs->avail_in = 0;
  uint8_t* const input = state_->input.get();
  uint8_t* const output = state_->output.get();
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
    if (result == Z_BUF_ERROR && inputEnded) throw EFatalUnzipError(zip_text::kPrematureEnd);
    if (result < 0) throw EZCompressionError("error");
    size_t produced = room - zs->avail_out;
    for (size_t at = 0; at < produced; at += kBlock) out.Write(target + at, std::min(kBlock, produced - at));
    if (result == Z_STREAM_END) return;
  }
}

}  // namespace kvelv
