#pragma once
// Helpers shared by the fuzz harnesses: a scratch folder per input that is checked for escapes
// afterwards, and byte sources and sinks over memory with a hard output cap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/common/ByteStreams.h"

namespace kvelv::fuzz {

// A fresh folder below $TMPDIR (or /tmp) laid out as <root>/a/b/ so that names climbing out of
// <root>/a/b/out are caught; removed on destruction.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // <root>/a/b: where the archive goes.
  const std::string& Work() const { return work_; }
  // <root>/a/b/out: the extraction target (not created).
  std::string Out() const { return work_ + "/out"; }
  // Writes `size` bytes to Work()/name and returns the path.
  std::string WriteFile(const std::string& name, const uint8_t* data, size_t size) const;
  // Aborts when anything exists below the root besides `keep` (names in Work()) and the
  // contents of Out(), or when Out() holds a symbolic link.
  void CheckNoEscape(const std::string& keep) const;
  // Total size of the regular files below `folder` (0 when it does not exist).
  static uint64_t BytesBelow(const std::string& folder);

 private:
  std::string root_;
  std::string work_;
};

// Hands out `data` in chunks whose sizes follow a small pattern, so decoders see short reads.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint8_t* buffer, size_t max) override;
  bool Rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  size_t turn_ = 0;
};

// Counts what it is given; aborts on a block over 32768 bytes. Once more than `limit` bytes
// arrive it aborts when `strict` (a decoder that knows the size must stop there) and otherwise
// throws EBiggerThanUncompressed, as the extractor's own size check does.
class CappedSink : public ByteSink {
 public:
  CappedSink(uint64_t limit, bool strict) : limit_(limit), strict_(strict) {}
  void Write(const uint8_t* data, size_t count) override;
  uint64_t Total() const { return total_; }

 private:
  uint64_t limit_;
  bool strict_;
  uint64_t total_ = 0;
};

}  // namespace kvelv::fuzz
