#include "zip/codec/BitReader.h"

#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {
constexpr size_t kInputBlock = 32768;
}

BitReader::BitReader(ByteSource& source) : source_(source), buffer_(kInputBlock) {}

void BitReader::Fill() {
  while (bitCount_ <= 56) {
    if (pos_ == end_) {
      if (exhausted_) return;
      size_t got = source_.Read(buffer_.data(), buffer_.size());
      if (got == 0) {
        exhausted_ = true;
        return;
      }
      pos_ = 0;
      end_ = got < buffer_.size() ? got : buffer_.size();
    }
    bits_ |= static_cast<uint64_t>(buffer_[pos_++]) << bitCount_;
    bitCount_ += 8;
  }
}

uint32_t BitReader::Peek(unsigned count) {
  if (bitCount_ < count) Fill();
  return static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1));
}

bool BitReader::Has(unsigned count) {
  if (bitCount_ < count) Fill();
  return bitCount_ >= count;
}

void BitReader::Skip(unsigned count) {
  if (bitCount_ < count) Fill();
  if (bitCount_ < count) throw EFatalUnzipError(zip_text::kPrematureEnd);
  bits_ >>= count;
  bitCount_ -= count;
}

uint32_t BitReader::Bits(unsigned count) {
  uint32_t value = Peek(count);
  Skip(count);
  return value;
}

}  // namespace kvelv
