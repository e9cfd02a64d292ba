// Entry names between memory and the archive: the OEM and UTF-8 roads of the writer and the
// reader's decoding that undoes them.
#include <algorithm>

#include "platform/CodePages.h"
#include "zip/ZipHeaderInfo.h"
#include "zip/ZipText.h"

namespace kvelv {

std::string ZipHeaderInfo::EncodeEntryName(const std::string& name) {
  std::string text = name;
  std::replace(text.begin(), text.end(), '\\', '/');

  auto utf8Road = [&]() {
    flag_ |= kFlagUtf8;
    versionMadeBy_ = static_cast<uint16_t>((versionMadeBy_ & 0x00FF) | 0x0B00);
    return text;
  };
  if (oemConvert_ == kvelv::OEMConvert::oemNever) return utf8Road();

  const std::string ansi = platform::AnsiFromUtf8(text);
  if (!SameTextAscii(platform::Utf8FromAnsi(ansi), text)) return utf8Road();
  const std::string oem = platform::OemFromAnsi(ansi);
  if (platform::AnsiFromOem(oem) != ansi) return utf8Road();

  // OEM road: the OEM bytes read as ANSI text, stored as UTF-8, bit 11 clear.
  flag_ = static_cast<uint16_t>(flag_ & ~kFlagUtf8);
  versionMadeBy_ = static_cast<uint16_t>(versionMadeBy_ & 0x00FF);
  return platform::Utf8FromAnsi(oem);
}

std::string UndoOemRoad(const std::string& name) {
  const std::string a = platform::AnsiFromUtf8(name);
  const std::string b = platform::AnsiFromOem(a);
  const std::string c = platform::OemFromAnsi(b);
  if (platform::Utf8FromAnsi(c) == name) return platform::Utf8FromAnsi(b);
  return name;
}

std::string DecodeEntryName(const std::string& stored, uint16_t flag, uint16_t versionMadeBy,
                            kvelv::OEMConvert conversion) {
  std::string name = ValidUtf8(stored);
  std::replace(name.begin(), name.end(), '/', '\\');
  // Unix hosts store names as they are (UTF-8 here); the OEM step would garble them.
  const bool unixHost = (versionMadeBy >> 8) == 3;
  if ((flag & kFlagUtf8) == 0 && conversion == kvelv::OEMConvert::oemFlexible &&
      (versionMadeBy & 0x0B00) != 0x0B00 && !unixHost)
    name = UndoOemRoad(name);
  return name;
}

}  // namespace kvelv
