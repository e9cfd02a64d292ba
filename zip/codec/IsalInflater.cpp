#include "zip/codec/IsalInflater.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr size_t kBlock = 32768;
constexpr size_t kOutputBuffer = 8 * kBlock;

// Passes on what comes after the first `skip` bytes.
class SkippingSink : public ByteSink {
 public:
  SkippingSink(ByteSink& out, uint64_t skip) : out_(out), skip_(skip) {}
  void Write(const uint8_t* data, size_t count) override {
    const size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, count));
    skip_ -= dropped;
    if (count > dropped) out_.Write(data + dropped, count - dropped);
  }

 private:
  ByteSink& out_;
  uint64_t skip_;
};

}  // namespace

// The decoder state is large (tables of both codes); it is made once and reset per stream.
struct IsalInflater::State {
  State() : input(new uint8_t[kBlock]), output(new uint8_t[kOutputBuffer]) {}
  inflate_state stream{};
  std::unique_ptr<uint8_t[]> input;
  std::unique_ptr<uint8_t[]> output;
};

IsalInflater::IsalInflater() : state_(std::make_unique<State>()) { isal_inflate_init(&state_->stream); }
IsalInflater::~IsalInflater() = default;

void IsalInflater::Inflate(ByteSource& in, ByteSink& out) {
  inflate_state* zs = &state_->stream;
  isal_inflate_reset(zs);
  zs->crc_flag = ISAL_DEFLATE;  // raw deflate: no header, no check value
  zs->hist_bits = 0;            // the whole 32 KiB window
  zs->next_in = nullptr;
  zs->avail_in = 0;
  uint8_t* const input = state_->input.get();
  uint8_t* const output = state_->output.get();
  bool inputEnded = false;
  uint64_t delivered = 0;
  for (;;) {
    if (zs->avail_in == 0 && !inputEnded) {
      const size_t got = in.Read(input, kBlock);
      if (got == 0) {
        inputEnded = true;
      } else {
        zs->next_in = input;
        zs->avail_in = static_cast<uint32_t>(std::min(got, kBlock));
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
    zs->avail_out = static_cast<uint32_t>(room);
    // What a failing call made is dropped, as zlib drops it.
    if (isal_inflate(zs) < 0) return DecideByZlib(in, out, delivered, false);
    const size_t produced = room - zs->avail_out;
    for (size_t at = 0; at < produced; at += kBlock) out.Write(target + at, std::min(kBlock, produced - at));
    delivered += produced;
    if (zs->block_state == ISAL_BLOCK_FINISH) return;
    // Nothing more came out of all the input there is: the stream was cut short.
    if (inputEnded && zs->avail_in == 0 && produced == 0) return DecideByZlib(in, out, delivered, true);
  }
}

void IsalInflater::DecideByZlib(ByteSource& in, ByteSink& out, uint64_t delivered, bool cutShort) {
  if (!in.Rewind()) {
    if (cutShort) throw EFatalUnzipError(zip_text::kPrematureEnd);
    throw EZCompressionError("error");
  }
  if (!referee_) referee_ = std::make_unique<ZlibInflater>();
  SkippingSink rest(out, delivered);
  referee_->Inflate(in, rest);
}

}  // namespace kvelv
