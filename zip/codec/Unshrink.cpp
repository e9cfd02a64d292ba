#include "zip/codec/Unshrink.h"

#include <vector>

#include "zip/codec/BitReader.h"
#include "zip/codec/OutputWindow.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr uint32_t kTableSize = 8192;
constexpr uint32_t kControlCode = 256;
constexpr uint32_t kFirstFree = 257;
constexpr unsigned kMinWidth = 9;
constexpr unsigned kMaxWidth = 13;

class ShrinkTable {
 public:
  ShrinkTable() : parent_(kTableSize), suffix_(kTableSize), used_(kTableSize), stack_(kTableSize + 1) {
    for (uint32_t c = 0; c < 256; ++c) {
      suffix_[c] = static_cast<uint8_t>(c);
      used_[c] = 1;
    }
  }

  bool Known(uint32_t code) const { return used_[code] != 0; }

  // Writes the string of `code` so that it ends just before `end` in the scratch stack and
  // returns where it starts. A chain longer than the table can only be a loop in bad data.
  size_t Spell(uint32_t code, size_t end) {
    size_t p = end;
    while (code >= kFirstFree) {
      if (p == 0) throw EBadCompressedData("Shrunk data has a looping code chain");
      stack_[--p] = suffix_[code];
      code = parent_[code];
    }
    if (code == kControlCode || p == 0) throw EBadCompressedData("Shrunk data has a looping code chain");
    stack_[--p] = static_cast<uint8_t>(code);
    return p;
  }

  const uint8_t* Stack() const { return stack_.data(); }
  size_t StackEnd() const { return stack_.size(); }
  void SetStackByte(size_t index, uint8_t value) { stack_[index] = value; }

  void Add(uint32_t parent, uint8_t suffix) {
    if (nextFree_ >= kTableSize) return;  // full: the encoder clears before it needs more
    parent_[nextFree_] = static_cast<uint16_t>(parent);
    suffix_[nextFree_] = suffix;
    used_[nextFree_] = 1;
    FindNextFree(nextFree_ + 1);
  }

  // Frees every entry that no entry in use continues.
  void PartialClear() {
    std::vector<uint8_t> hasChild(kTableSize);
    for (uint32_t c = kFirstFree; c < kTableSize; ++c) {
      if (used_[c]) hasChild[parent_[c]] = 1;
    }
    for (uint32_t c = kFirstFree; c < kTableSize; ++c) {
      if (!hasChild[c]) used_[c] = 0;
    }
    FindNextFree(kFirstFree);
  }

 private:
  void FindNextFree(uint32_t from) {
    nextFree_ = from;
    while (nextFree_ < kTableSize && used_[nextFree_]) ++nextFree_;
  }

  std::vector<uint16_t> parent_;
  std::vector<uint8_t> suffix_;
  std::vector<uint8_t> used_;
  std::vector<uint8_t> stack_;
  uint32_t nextFree_ = kFirstFree;
};

}  // namespace

void Unshrink(ByteSource& in, ByteSink& out, uint64_t uncompressedSize) {
  if (uncompressedSize == 0) return;
  BitReader bits(in);
  OutputWindow output(out, uncompressedSize);
  ShrinkTable table;
  unsigned width = kMinWidth;
  bool havePrevious = false;
  uint32_t previous = 0;

  while (!output.Done()) {
    uint32_t code = bits.Bits(width);
    if (code == kControlCode) {
      uint32_t command = bits.Bits(width);
      if (command == 1) {
        if (width == kMaxWidth) throw EBadCompressedData("Shrunk data widens codes past 13 bits");
        ++width;
      } else if (command == 2) {
        table.PartialClear();
      } else {
        throw EBadCompressedData("Shrunk data has an unknown control code");
      }
      continue;
    }
    if (!havePrevious) {
      if (code > 255) throw EBadCompressedData("Shrunk data does not start with a byte");
      output.Put(static_cast<uint8_t>(code));
      previous = code;
      havePrevious = true;
      continue;
    }
    size_t start;
    size_t end = table.StackEnd();
    if (table.Known(code)) {
      start = table.Spell(code, end);
    } else {
      // Not in the table yet: previous string plus its own first byte.
      start = table.Spell(previous, end - 1);
      table.SetStackByte(end - 1, table.Stack()[start]);
    }
    const uint8_t* text = table.Stack();
    table.Add(previous, text[start]);
    for (size_t i = start; i < end && !output.Done(); ++i) output.Put(text[i]);
    previous = code;
  }
  output.Flush();
}

}  // namespace kvelv
