// windows-1252 (ANSI) and code page 850 (OEM) conversions from the published tables, with the
// Windows treatment of the five bytes windows-1252 leaves unassigned.
#include "platform/CodePages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include <locale.h>
#include <wctype.h>

namespace kvelv::platform {

namespace {

// Both code pages are ASCII below 0x80; only the upper halves need tables.
// windows-1252 bytes 0x80-0xFF; the five unassigned bytes map to the C1 control of the same value.
constexpr std::array<char16_t, 128> kAnsiHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // 0xA8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // 0xB8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // 0xC0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // 0xC8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // 0xD0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // 0xD8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // 0xE0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // 0xE8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // 0xF0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // 0xF8
};

// Code page 850 bytes 0x80-0xFF.
constexpr std::array<char16_t, 128> kOemHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

using HighTable = std::array<char16_t, 128>;
using ReverseTable = std::array<std::pair<char16_t, uint8_t>, 128>;

ReverseTable MakeReverse(const HighTable& high) {
  ReverseTable reverse{};
  for (size_t i = 0; i < high.size(); ++i) reverse[i] = {high[i], static_cast<uint8_t>(0x80 + i)};
  std::sort(reverse.begin(), reverse.end());
  return reverse;
}

const ReverseTable& AnsiReverse() {
  static const ReverseTable table = MakeReverse(kAnsiHigh);
  return table;
}

const ReverseTable& OemReverse() {
  static const ReverseTable table = MakeReverse(kOemHigh);
  return table;
}

// The byte for `c`, or '?' with `mapped` false.
char ToByte(char32_t c, const ReverseTable& reverse, bool& mapped) {
  if (c < 0x80) return static_cast<char>(c);
  if (c <= 0xFFFF) {
    auto it = std::lower_bound(reverse.begin(), reverse.end(), std::make_pair(static_cast<char16_t>(c), uint8_t{0}));
    if (it != reverse.end() && it->first == c) return static_cast<char>(it->second);
  }
  mapped = false;
  return '?';
}

std::string FromUtf8(std::string_view utf8, const ReverseTable& reverse, bool* allMapped) {
  bool mapped = true;
  std::string out;
  out.reserve(utf8.size());
  for (char32_t c : DecodeUtf8(utf8)) out.push_back(ToByte(c, reverse, mapped));
  if (allMapped != nullptr) *allMapped = mapped;
  return out;
}

std::u32string ToUnicode(std::string_view bytes, const HighTable& high) {
  std::u32string text;
  text.reserve(bytes.size());
  for (char b : bytes) {
    auto byte = static_cast<uint8_t>(b);
    text.push_back(byte < 0x80 ? char32_t{byte} : char32_t{high[byte - 0x80]});
  }
  return text;
}

std::string ToBytes(const std::u32string& text, const ReverseTable& reverse) {
  bool mapped = true;
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) out.push_back(ToByte(c, reverse, mapped));
  return out;
}

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8, bool* allMapped) {
  return FromUtf8(utf8, AnsiReverse(), allMapped);
}

SecretBytes AnsiFromUtf8(const SecretBytes& utf8, bool* allMapped) {
  bool mapped = true;
  SecretBytes out;
  out.Reserve(utf8.Size());  // never more bytes than the UTF-8 text: no move while it grows
  const std::string_view text = utf8.View();
  for (size_t i = 0; i < text.size();) {
    const char byte = ToByte(DecodeUtf8Char(text, i), AnsiReverse(), mapped);
    out.Append(&byte, 1);
  }
  if (allMapped != nullptr) *allMapped = mapped;
  return out;
}

std::string Utf8FromAnsi(std::string_view ansi) { return EncodeUtf8(ToUnicode(ansi, kAnsiHigh)); }

std::string OemFromUtf8(std::string_view utf8, bool* allMapped) {
  return FromUtf8(utf8, OemReverse(), allMapped);
}

std::string Utf8FromOem(std::string_view oem) { return EncodeUtf8(ToUnicode(oem, kOemHigh)); }

std::string OemFromAnsi(std::string_view ansi) { return ToBytes(ToUnicode(ansi, kAnsiHigh), OemReverse()); }

std::string AnsiFromOem(std::string_view oem) { return ToBytes(ToUnicode(oem, kOemHigh), AnsiReverse()); }

std::string UpperCase(std::string_view utf8) {
  // The case mappings of C.UTF-8 (all of Unicode), whatever locale the process runs in.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::u32string text = DecodeUtf8(utf8);
  for (char32_t& c : text) {
    if (unicode != static_cast<locale_t>(nullptr)) {
      c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), unicode));
    } else if (c >= U'a' && c <= U'z') {
      c -= 0x20;
    }
  }
  return EncodeUtf8(text);
}

}  // namespace kvelv::platform
