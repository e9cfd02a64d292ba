// Reading central and local headers, with their extra fields, from an archive.
#include <algorithm>
#include <vector>

#include "platform/CodePages.h"
#include "zip/common/BufferedFileStream.h"
#include "zip/common/DosDateTime.h"
#include "zip/common/LittleEndian.h"
#include "zip/records/ZipHeaderInfo.h"
#include "zip/common/ZipText.h"

namespace kvelv {

namespace {
constexpr uint32_t kAllOnes32 = 0xFFFFFFFF;
constexpr uint16_t kAllOnes16 = 0xFFFF;
}  // namespace

bool ZipHeaderInfo::ReadCentralHeader(BufferedFileStream& in) {
  const int64_t start = in.Position();
  auto fail = [&]() {
    in.Seek(start);
    return false;
  };
  uint8_t h[kCentralHeaderSize];
  if (!in.ReadExact(h, sizeof h) || GetU32(h) != kCentralHeaderSignature) return fail();
  const uint16_t nameLength = GetU16(h + 28);
  const uint16_t extraLength = GetU16(h + 30);
  std::string stored(nameLength, '\0');
  if (!in.ReadExact(stored.data(), nameLength)) return fail();
  const int64_t afterName = in.Position();

  std::vector<uint8_t> extra(extraLength);
  if (extraLength != 0) {
    // An extra field running past the end of the file means the header is not what it seems.
    if (!in.ReadExact(extra.data(), extraLength)) return fail();
    in.Seek(afterName);
  }

  const kvelv::OEMConvert conversion = oemConvert_;
  ResetEntry();
  versionMadeBy_ = GetU16(h + 4);                           // version made by
  versionNeeded_ = GetU16(h + 6);                           // version needed to extract
  flag_ = GetU16(h + 8);                                    // general purpose bit flag
  compressionMethod_ = GetU16(h + 10);                      // compression method
  dateTime_ = NormalizeDosDateTime(GetU32(h + 12));         // time low, date high
  crc32_ = GetU32(h + 16);                                  // crc-32
  compressedSize_ = GetU32(h + 20);                         // compressed size
  uncompressedSize_ = GetU32(h + 24);                       // uncompressed size
  fileNameLength_ = nameLength;                             // file name length
  centralExtraLength_ = extraLength;                        // extra field length
  fileCommentLength_ = GetU16(h + 32);                      // file comment length
  diskNumberStart_ = GetU16(h + 34);                        // disk number start
  internalAttributes_ = GetU16(h + 36);                     // internal file attributes
  externalAttributes_ = GetU32(h + 38);                     // external file attributes
  relativeOffset_ = GetU32(h + 42);                         // relative offset of local header
  centralHeaderPosition_ = start;
  extraPosition_ = afterName;
  extraLengthRead_ = extraLength;
  oemConvert_ = conversion;

  SplitEntryName(DecodeEntryName(stored, flag_, versionMadeBy_, oemConvert_), directory_, fileName_);

  size_t off = 0;
  while (off + 4 <= extra.size()) {
    const uint16_t id = GetU16(extra.data() + off);
    const size_t size = GetU16(extra.data() + off + 2);
    const size_t data = off + 4;
    const size_t end = std::min(data + size, extra.size());  // never read past the field or buffer
    const uint8_t* p = extra.data();
    if (id == kZip64ExtraId) {
      Zip64Values& z = Zip64Slot();
      size_t q = data;
      auto take64 = [&](uint64_t& v) {
        if (q + 8 > end) return;
        v = GetU64(p + q);
        q += 8;
      };
      if (uncompressedSize_ == kAllOnes32) take64(z.uncompressedSize);
      if (compressedSize_ == kAllOnes32) take64(z.compressedSize);
      if (relativeOffset_ == kAllOnes32) take64(z.relativeOffset);
      if (diskNumberStart_ == kAllOnes16 && q + 4 <= end) z.diskNumberStart = GetU32(p + q);
      zip64FieldLength_ = static_cast<uint16_t>(end - off);
    } else if (id == kUnicodePathExtraId && end - data >= 5) {
      // Version (1 byte), CRC of the header name (4 bytes, not checked), the name in UTF-8.
      const std::string_view utf8(reinterpret_cast<const char*>(p + data + 5), end - data - 5);
      SplitEntryName(NameBytesAsText(utf8), directory_, fileName_);
    } else if (id == kAesExtraId && end - data >= 7) {
      AesExtraField aes;
      aes.vendorVersion = GetU16(p + data);
      aes.vendorId = GetU16(p + data + 2);
      aes.strength = p[data + 4];
      aes.actualMethod = GetU16(p + data + 5);
      aes_ = aes;
    }
    off = data + size;
  }

  if (compressionMethod_ == kMethodAes && aes_) {
    switch (aes_->strength) {
      case 1: encryptStrength_ = kvelv::EncryptStrength::esAES128; break;
      case 2: encryptStrength_ = kvelv::EncryptStrength::esAES192; break;
      case 3: encryptStrength_ = kvelv::EncryptStrength::esAES256; break;
      default: break;
    }
    compressionMethod_ = aes_->actualMethod;
  }
  return true;
}

bool ZipHeaderInfo::ReadLocalHeader(BufferedFileStream& in) {
  const int64_t start = in.Position();
  auto fail = [&]() {
    in.Seek(start);
    return false;
  };
  uint8_t h[kLocalHeaderSize];
  if (!in.ReadExact(h, sizeof h) || GetU32(h) != kLocalHeaderSignature) return fail();
  const uint16_t nameLength = GetU16(h + 26);
  const uint16_t extraLength = GetU16(h + 28);
  std::string stored(nameLength, '\0');
  if (!in.ReadExact(stored.data(), nameLength)) return fail();
  const int64_t afterName = in.Position();
  std::vector<uint8_t> extra(extraLength);
  if (extraLength != 0 && !in.ReadExact(extra.data(), extraLength)) extra.clear();
  in.Seek(afterName);

  const kvelv::OEMConvert conversion = oemConvert_;
  ResetEntry();
  oemConvert_ = conversion;
  versionNeeded_ = GetU16(h + 4);
  flag_ = GetU16(h + 6);
  compressionMethod_ = GetU16(h + 8);
  dateTime_ = NormalizeDosDateTime(GetU32(h + 10));
  crc32_ = GetU32(h + 14);
  compressedSize_ = GetU32(h + 18);
  uncompressedSize_ = GetU32(h + 22);
  fileNameLength_ = nameLength;
  localExtraLength_ = extraLength;
  SetRelativeOffset(static_cast<uint64_t>(start));

  // Local headers carry no "version made by". Names this program wrote are UTF-8 (the OEM road
  // included), so valid UTF-8 is read as such; anything else is taken as ANSI.
  const std::string utf8 = ValidUtf8(stored);
  std::string name = utf8 == stored ? utf8 : platform::Utf8FromAnsi(stored);
  std::replace(name.begin(), name.end(), '/', kEntrySeparator);
  if ((flag_ & kFlagUtf8) == 0 && oemConvert_ == kvelv::OEMConvert::oemFlexible)
    name = UndoOemRoad(name);
  SplitEntryName(name, directory_, fileName_);

  // The local Zip64 field gives the sizes needed to step over the data.
  size_t off = 0;
  while (off + 4 <= extra.size()) {
    const uint16_t id = GetU16(extra.data() + off);
    const size_t size = GetU16(extra.data() + off + 2);
    const size_t data = off + 4;
    const size_t end = std::min(data + size, extra.size());
    if (id == kZip64ExtraId) {
      Zip64Values& z = Zip64Slot();
      size_t q = data;
      if (uncompressedSize_ == kAllOnes32 && q + 8 <= end) {
        z.uncompressedSize = GetU64(extra.data() + q);
        q += 8;
      }
      if (compressedSize_ == kAllOnes32 && q + 8 <= end) z.compressedSize = GetU64(extra.data() + q);
    }
    off = data + size;
  }
  return true;
}

}  // namespace kvelv
