#include "zip/codec/OutputWindow.h"

#include <stdexcept>

namespace kvelv {

OutputWindow::OutputWindow(ByteSink& sink, uint64_t total) : sink_(sink), ring_(kSize), total_(total) {}

void OutputWindow::Put(uint8_t byte) {
  if (Done()) return;
  ring_[pos_++] = byte;
  ++produced_;
  if (pos_ == kSize) {
    sink_.Write(ring_.data() + flushed_, kSize - flushed_);
    pos_ = 0;
    flushed_ = 0;
  }
}

void OutputWindow::Copy(uint32_t distance, uint32_t length) {
  if (distance == 0 || distance > kSize) throw std::logic_error("copy distance out of range");
  for (uint32_t i = 0; i < length && !Done(); ++i) {
    Put(ring_[(pos_ + kSize - distance) % kSize]);
  }
}

void OutputWindow::Flush() {
  if (pos_ > flushed_) sink_.Write(ring_.data() + flushed_, pos_ - flushed_);
  flushed_ = pos_;
}

}  // namespace kvelv
