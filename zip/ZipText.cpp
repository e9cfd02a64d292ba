#include "zip/ZipText.h"

#include <cstdint>

#include "platform/CodePages.h"

namespace kvelv {

namespace {
unsigned char LowerAsciiChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
}  // namespace

int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = LowerAsciiChar(static_cast<unsigned char>(a[i]));
    const int cb = LowerAsciiChar(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(LowerAsciiChar(static_cast<unsigned char>(c)));
  return out;
}

std::string ValidUtf8(std::string_view bytes) {
  return platform::EncodeUtf8(platform::DecodeUtf8(bytes));
}

namespace {

// Length of the valid UTF-8 sequence at the start of `bytes`; 0 when there is none.
size_t Utf8SequenceLength(std::string_view bytes) {
  const auto b0 = static_cast<unsigned char>(bytes[0]);
  if (b0 < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2;
    code = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3;
    code = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4;
    code = b0 & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if ((b & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes.substr(at));
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string NameBytesAsText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes.substr(at));
    if (length > 0) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text += platform::Utf8FromAnsi(bytes.substr(at, 1));
      ++at;
    }
  }
  return text;
}

size_t LastNameBreak(std::string_view name) {
  const size_t cut = name.find_last_of(kEntryNameBreaks);
  if (cut != std::string_view::npos || kEntrySeparator != '\\') return cut;
  const bool drive = name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z');
  return drive ? 1 : std::string_view::npos;
}

void SplitEntryName(std::string_view name, std::string& directory, std::string& fileName) {
  // "/" counts everywhere: a Unicode path field keeps its "/" and must not smuggle a folder part
  // into the file name.
  const size_t cut = LastNameBreak(name);
  if (cut == std::string_view::npos) {
    directory.clear();
    fileName = std::string(name);
    return;
  }
  fileName = std::string(name.substr(cut + 1));
  directory = std::string(name.substr(0, cut));
  if (!directory.empty()) directory += kEntrySeparator;
}

}  // namespace kvelv
