// Writing local and central headers with their Zip64 fields.
#include <vector>

#include "zip/common/BufferedFileStream.h"
#include "zip/common/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/records/ZipHeaderInfo.h"

namespace kvelv {

namespace {
constexpr uint32_t kAllOnes32 = 0xFFFFFFFF;
constexpr uint16_t kAllOnes16 = 0xFFFF;
}  // namespace

uint16_t ZipHeaderInfo::Zip64DataSize(Header header) const {
  const bool local = header == Header::Local;
  uint16_t size = 0;
  if (uncompressedSize_ == kAllOnes32) size += 8;
  if (compressedSize_ == kAllOnes32 || (local && uncompressedSize_ == kAllOnes32)) size += 8;
  if (relativeOffset_ == kAllOnes32) size += 8;
  if (diskNumberStart_ == kAllOnes16) size += 4;
  return size;
}

void ZipHeaderInfo::WriteZip64Extra(BufferedFileStream& out, Header header) const {
  const uint16_t size = Zip64DataSize(header);
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
  if (compressedSize_ == kAllOnes32 || (header == Header::Local && uncompressedSize_ == kAllOnes32)) {
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
  const uint16_t zip64Size = Zip64DataSize(Header::Local);
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
  WriteZip64Extra(out, Header::Local);
}

void ZipHeaderInfo::WriteCentralHeader(BufferedFileStream& out, BufferedFileStream* source) {
  const std::string name = StoredNameBytes(*this, fileNameLength_);
  const uint16_t zip64Size = Zip64DataSize(Header::Central);
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
  WriteZip64Extra(out, Header::Central);
  out.WriteAll(comment.data(), static_cast<int64_t>(comment.size()));
}


}  // namespace kvelv
