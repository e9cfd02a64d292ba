// Entry names between memory and the archive: the OEM and UTF-8 roads of the writer and the
// reader's decoding that undoes them.
#include <algorithm>

#include "platform/CodePages.h"
#include "zip/records/ZipHeaderInfo.h"
#include "zip/common/ZipText.h"

namespace kvelv {

std::string ZipHeaderInfo::EncodeEntryName(const std::string& name) {
  std::string text = name;
  std::replace(text.begin(), text.end(), kEntrySeparator, '/');

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
  const bool utf8 = IsValidUtf8(stored);
  if (!utf8 && (flag & kFlagUtf8) == 0) {
    // Not UTF-8 and not marked so: a DOS or Windows tool's OEM name (code page 850). Our own
    // archives never store such bytes, so they read back as before.
    std::string name = platform::Utf8FromOem(stored);
    std::replace(name.begin(), name.end(), '/', kEntrySeparator);
    return name;
  }
  // Marked UTF-8 but not valid: the odd bytes are read as windows-1252, so that two such names
  // stay two names.
  std::string name = utf8 ? stored : NameBytesAsText(stored);
  std::replace(name.begin(), name.end(), '/', kEntrySeparator);
  // Unix hosts store names as they are (UTF-8 here); the OEM step would garble them.
  const bool unixHost = (versionMadeBy >> 8) == 3;
  if ((flag & kFlagUtf8) == 0 && conversion == kvelv::OEMConvert::oemFlexible &&
      (versionMadeBy & 0x0B00) != 0x0B00 && !unixHost)
    name = UndoOemRoad(name);
  return name;
}

}  // namespace kvelv
