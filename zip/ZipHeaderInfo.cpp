#include "zip/ZipHeaderInfo.h"

#include <algorithm>
#include <vector>

#include "platform/CodePages.h"
#include "zip/BufferedFileStream.h"
#include "zip/DosDateTime.h"
#include "zip/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipText.h"

namespace kvelv {

namespace {

constexpr uint32_t kAllOnes32 = 0xFFFFFFFF;
constexpr uint16_t kAllOnes16 = 0xFFFF;

// Valid UTF-8 of any byte string: invalid sequences become U+FFFD.
std::string SanitizeUtf8(std::string_view bytes) {
  return platform::EncodeUtf8(platform::DecodeUtf8(bytes));
}

void ReplaceAll(std::string& text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
}

}  // namespace

void ZipHeaderInfo::ResetEntry() {
  const kvelv::OEMConvert conversion = oemConvert_;
  *this = ZipHeaderInfo();
  oemConvert_ = conversion;
}

// --- 64-bit values ------------------------------------------------------------------------------

Zip64Values& ZipHeaderInfo::Zip64Slot() {
  if (!zip64_) zip64_.emplace();
  return *zip64_;
}

uint64_t ZipHeaderInfo::UncompressedSize() const {
  return (uncompressedSize_ == kAllOnes32 && zip64_) ? zip64_->uncompressedSize : uncompressedSize_;
}

void ZipHeaderInfo::SetUncompressedSize(uint64_t v) {
  if (v >= kAllOnes32) {
    uncompressedSize_ = kAllOnes32;
    Zip64Slot().uncompressedSize = v;
  } else {
    uncompressedSize_ = static_cast<uint32_t>(v);
  }
}

uint64_t ZipHeaderInfo::CompressedSize() const {
  return (compressedSize_ == kAllOnes32 && zip64_) ? zip64_->compressedSize : compressedSize_;
}

void ZipHeaderInfo::SetCompressedSize(uint64_t v) {
  if (v >= kAllOnes32) {
    compressedSize_ = kAllOnes32;
    Zip64Slot().compressedSize = v;
  } else {
    compressedSize_ = static_cast<uint32_t>(v);
  }
}

uint64_t ZipHeaderInfo::RelativeOffset() const {
  return (relativeOffset_ == kAllOnes32 && zip64_) ? zip64_->relativeOffset : relativeOffset_;
}

void ZipHeaderInfo::SetRelativeOffset(uint64_t v) {
  if (v >= kAllOnes32) {
    relativeOffset_ = kAllOnes32;
    Zip64Slot().relativeOffset = v;
  } else {
    relativeOffset_ = static_cast<uint32_t>(v);
  }
}

uint32_t ZipHeaderInfo::DiskNumberStart() const {
  return (diskNumberStart_ == kAllOnes16 && zip64_) ? zip64_->diskNumberStart : diskNumberStart_;
}

void ZipHeaderInfo::SetDiskNumberStart(uint32_t v) {
  if (v >= kAllOnes16) {
    diskNumberStart_ = kAllOnes16;
    Zip64Slot().diskNumberStart = v;
  } else {
    diskNumberStart_ = static_cast<uint16_t>(v);
  }
}

// --- Name -------------------------------------------------------------------------------------

void ZipHeaderInfo::SetFileName(const std::string& name) {
  fileName_ = name;
  fileNameLength_ = (fileName_.empty() && directory_.empty()) ? 0 : std::max<uint16_t>(fileNameLength_, 1);
}

void ZipHeaderInfo::SetDirectory(const std::string& directory) {
  directory_ = directory;
  if (!directory_.empty() && directory_.back() != '\\') directory_ += '\\';
  fileNameLength_ = (fileName_.empty() && directory_.empty()) ? 0 : std::max<uint16_t>(fileNameLength_, 1);
}

std::string ZipHeaderInfo::EncodeEntryName(const std::string& name) {
  std::string text = name;
  ReplaceAll(text, '\\', '/');

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
  std::string name = SanitizeUtf8(stored);
  ReplaceAll(name, '/', '\\');
  // Unix hosts store names as they are (UTF-8 here); the OEM step would garble them.
  const bool unixHost = (versionMadeBy >> 8) == 3;
  if ((flag & kFlagUtf8) == 0 && conversion == kvelv::OEMConvert::oemFlexible &&
      (versionMadeBy & 0x0B00) != 0x0B00 && !unixHost)
    name = UndoOemRoad(name);
  return name;
}

// --- Writing ----------------------------------------------------------------------------------

uint16_t ZipHeaderInfo::Zip64DataSize(bool local) const {
  uint16_t size = 0;
  if (uncompressedSize_ == kAllOnes32) size += 8;
  if (compressedSize_ == kAllOnes32 || (local && uncompressedSize_ == kAllOnes32)) size += 8;
  if (relativeOffset_ == kAllOnes32) size += 8;
  if (diskNumberStart_ == kAllOnes16) size += 4;
  return size;
}

void ZipHeaderInfo::WriteZip64Extra(BufferedFileStream& out, bool local) const {
  const uint16_t size = Zip64DataSize(local);
  if (size == 0) return;
  std::vector<uint8_t> field(4u + size);
  uint8_t* p = field.data();
  PutU16(p, kZip64ExtraId);
  PutU16(p + 2, size);
  p += 4;
  if (uncompressedSize_ == kAllOnes32) {
    PutU64(p, UncompressedSize());
    p += 8;
  }
  if (compressedSize_ == kAllOnes32 || (local && uncompressedSize_ == kAllOnes32)) {
    PutU64(p, CompressedSize());  // a 32-bit compressed size comes out zero-extended
    p += 8;
  }
  if (relativeOffset_ == kAllOnes32) {
    PutU64(p, RelativeOffset());
    p += 8;
  }
  if (diskNumberStart_ == kAllOnes16) PutU32(p, DiskNumberStart());
  out.WriteAll(field.data(), static_cast<int64_t>(field.size()));
}

namespace {

std::string StoredNameBytes(ZipHeaderInfo& entry, uint16_t& nameLength) {
  if (nameLength == 0) return {};
  std::string bytes = entry.EncodeEntryName(entry.Directory() + entry.FileName());
  if (bytes.size() > 0xFFFF) throw EZipException("Entry name too long: " + entry.FullName());
  nameLength = static_cast<uint16_t>(bytes.size());
  return bytes;
}

// Central extra fields of `entry` in its source archive without 0x0001 and 0x9901.
std::string CarriedExtraFields(const ZipHeaderInfo& entry, BufferedFileStream* source) {
  if (source == nullptr || entry.ExtraLengthRead() == 0) return {};
  const int64_t saved = source->Position();
  std::string raw(entry.ExtraLengthRead(), '\0');
  const bool ok = source->Seek(entry.ExtraPosition()) &&
                  source->ReadExact(raw.data(), static_cast<int64_t>(raw.size()));
  source->Seek(saved);
  if (!ok) return {};
  std::string kept;
  size_t off = 0;
  while (off + 4 <= raw.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data()) + off;
    const uint16_t id = GetU16(p);
    const size_t size = GetU16(p + 2);
    if (off + 4 + size > raw.size()) break;  // a field running past the end is dropped
    if (id != kZip64ExtraId && id != kAesExtraId) kept.append(raw, off, 4 + size);
    off += 4 + size;
  }
  return kept;
}

}  // namespace

void ZipHeaderInfo::WriteLocalHeader(BufferedFileStream& out) {
  const std::string name = StoredNameBytes(*this, fileNameLength_);
  SetRelativeOffset(static_cast<uint64_t>(out.Position()));
  const uint16_t zip64Size = Zip64DataSize(true);
  // Only the Zip64 field follows the name, so only it is counted.
  const uint16_t extraLength = zip64Size != 0 ? static_cast<uint16_t>(4 + zip64Size) : 0;

  uint8_t h[kLocalHeaderSize];
  PutU32(h + 0, kLocalHeaderSignature);
  PutU16(h + 4, zip64Size != 0 ? 45 : 20);       // version needed to extract
  PutU16(h + 6, flag_);                           // general purpose bit flag
  PutU16(h + 8, compressionMethod_);              // compression method
  PutU32(h + 10, dateTime_);                      // time, then date
  PutU32(h + 14, crc32_);                         // crc-32
  PutU32(h + 18, uncompressedSize_ == kAllOnes32 ? kAllOnes32 : compressedSize_);
  PutU32(h + 22, uncompressedSize_);              // uncompressed size
  PutU16(h + 26, fileNameLength_);                // file name length
  PutU16(h + 28, extraLength);                    // extra field length
  out.WriteAll(h, sizeof h);
  out.WriteAll(name.data(), static_cast<int64_t>(name.size()));
  WriteZip64Extra(out, true);
}

void ZipHeaderInfo::WriteCentralHeader(BufferedFileStream& out, BufferedFileStream* source) {
  const std::string name = StoredNameBytes(*this, fileNameLength_);
  const uint16_t zip64Size = Zip64DataSize(false);
  std::string carried = CarriedExtraFields(*this, source);
  const size_t zip64Field = zip64Size != 0 ? 4u + zip64Size : 0u;
  if (carried.size() + zip64Field > 0xFFFF) carried.clear();
  const auto extraLength = static_cast<uint16_t>(carried.size() + zip64Field);

  // A comment that was never loaded is fetched from the source archive, else left out.
  std::string comment = fileComment_;
  if (comment.empty() && fileCommentLength_ != 0 && source != nullptr) {
    const int64_t saved = source->Position();
    comment.assign(fileCommentLength_, '\0');
    if (!source->Seek(extraPosition_ + extraLengthRead_) ||
        !source->ReadExact(comment.data(), static_cast<int64_t>(comment.size())))
      comment.clear();
    source->Seek(saved);
  }

  uint8_t h[kCentralHeaderSize];
  PutU32(h + 0, kCentralHeaderSignature);
  PutU16(h + 4, versionMadeBy_);                  // version made by (shows the UTF-8 road)
  PutU16(h + 6, zip64Size != 0 ? 45 : 20);        // version needed to extract
  PutU16(h + 8, flag_);
  PutU16(h + 10, compressionMethod_);
  PutU32(h + 12, dateTime_);
  PutU32(h + 16, crc32_);
  PutU32(h + 20, compressedSize_);
  PutU32(h + 24, uncompressedSize_);
  PutU16(h + 28, fileNameLength_);
  PutU16(h + 30, extraLength);
  PutU16(h + 32, static_cast<uint16_t>(comment.size()));  // file comment length
  PutU16(h + 34, diskNumberStart_);
  PutU16(h + 36, internalAttributes_);
  PutU32(h + 38, externalAttributes_);
  PutU32(h + 42, relativeOffset_);
  out.WriteAll(h, sizeof h);
  out.WriteAll(name.data(), static_cast<int64_t>(name.size()));
  if (zip64Size == 0) DropZip64();
  out.WriteAll(carried.data(), static_cast<int64_t>(carried.size()));
  WriteZip64Extra(out, false);
  out.WriteAll(comment.data(), static_cast<int64_t>(comment.size()));
}

// --- Reading ----------------------------------------------------------------------------------

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
      SplitEntryName(SanitizeUtf8(utf8), directory_, fileName_);
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

  // Local headers carry no "version made by": the name is ANSI unless bit 11 says UTF-8.
  std::string name = (flag_ & kFlagUtf8) != 0 ? SanitizeUtf8(stored) : platform::Utf8FromAnsi(stored);
  ReplaceAll(name, '/', '\\');
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
