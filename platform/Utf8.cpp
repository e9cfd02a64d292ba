// UTF-8 decoding and encoding, shared by every code-page implementation.
#include <cstdint>

#include "platform/CodePages.h"

namespace kvelv::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

char32_t DecodeUtf8Char(std::string_view utf8, size_t& position) {
  const auto lead = static_cast<uint8_t>(utf8[position]);
  if (lead < 0x80) {
    ++position;
    return lead;
  }
  size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  }
  bool valid = length != 0 && position + length <= utf8.size();
  for (size_t k = 1; valid && k < length; ++k) {
    auto next = static_cast<uint8_t>(utf8[position + k]);
    if (!IsContinuation(next)) {
      valid = false;
    } else {
      c = (c << 6) | (next & 0x3F);
    }
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (valid && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
  if (!valid) {
    ++position;
    return kReplacement;
  }
  position += length;
  return c;
}

std::u32string DecodeUtf8(std::string_view utf8) {
  std::u32string text;
  text.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) text.push_back(DecodeUtf8Char(utf8, i));
  return text;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace kvelv::platform
