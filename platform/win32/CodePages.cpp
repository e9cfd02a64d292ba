// The system's ANSI and OEM code pages through the Windows conversion functions.
#include "platform/CodePages.h"

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::Narrow;
using win32::Widen;

// Bytes of the code page for UTF-8 text; unmappable characters become "?" (never a best-fit
// look-alike, which would change what a password hashes to).
std::string FromUtf8(UINT codePage, std::string_view utf8, bool* allMapped) {
  std::wstring wide = Widen(utf8);
  // A character beyond the BMP is one unmappable character, not two halves: one "?".
  for (size_t i = 0; i + 1 < wide.size(); ++i) {
    if (IS_HIGH_SURROGATE(wide[i]) && IS_LOW_SURROGATE(wide[i + 1])) wide.replace(i, 2, 1, L'\xFFFD');
  }
  if (allMapped != nullptr) *allMapped = true;
  if (wide.empty()) return {};
  BOOL usedDefault = FALSE;
  const int wideLength = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, "?",
                                   &usedDefault);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, bytes.data(), length, "?",
                      &usedDefault);
  if (allMapped != nullptr) *allMapped = usedDefault == FALSE;
  return bytes;
}

std::string ToUtf8(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int byteLength = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(codePage, 0, bytes.data(), byteLength, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), byteLength, wide.data(), length);
  return Narrow(wide);
}

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8, bool* allMapped) { return FromUtf8(CP_ACP, utf8, allMapped); }

SecretBytes AnsiFromUtf8(const SecretBytes& utf8, bool* allMapped) {
  if (allMapped != nullptr) *allMapped = true;
  if (utf8.Empty()) return {};
  // UTF-16 in secret storage, one unit per character: as above, a character beyond the BMP is
  // one unmappable character.
  SecretBytes wide(utf8.Size() * sizeof(wchar_t));
  auto* units = reinterpret_cast<wchar_t*>(wide.Data());
  int count = 0;
  const std::string_view text = utf8.View();
  for (size_t i = 0; i < text.size();) {
    const char32_t c = DecodeUtf8Char(text, i);
    units[count++] = c > 0xFFFF ? L'\xFFFD' : static_cast<wchar_t>(c);
  }
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, nullptr, 0, "?", &usedDefault);
  SecretBytes bytes(static_cast<size_t>(length));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, reinterpret_cast<char*>(bytes.Data()), length, "?",
                      &usedDefault);
  if (allMapped != nullptr) *allMapped = usedDefault == FALSE;
  return bytes;
}

std::string Utf8FromAnsi(std::string_view ansi) { return ToUtf8(CP_ACP, ansi); }

std::string OemFromUtf8(std::string_view utf8, bool* allMapped) { return FromUtf8(CP_OEMCP, utf8, allMapped); }

std::string Utf8FromOem(std::string_view oem) { return ToUtf8(CP_OEMCP, oem); }

std::string OemFromAnsi(std::string_view ansi) {
  std::string oem(ansi);
  if (!oem.empty()) CharToOemBuffA(oem.data(), oem.data(), static_cast<DWORD>(oem.size()));
  return oem;
}

std::string AnsiFromOem(std::string_view oem) {
  std::string ansi(oem);
  if (!ansi.empty()) OemToCharBuffA(ansi.data(), ansi.data(), static_cast<DWORD>(ansi.size()));
  return ansi;
}

std::string UpperCase(std::string_view utf8) {
  // The system's own upper-casing, character for character, as its file systems compare names.
  std::wstring wide = win32::Widen(utf8);
  if (wide.empty()) return {};
  std::wstring upper(wide.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                                   upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length <= 0) return std::string(utf8);
  upper.resize(static_cast<size_t>(length));
  return win32::Narrow(upper);
}

}  // namespace kvelv::platform
