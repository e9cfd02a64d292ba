#include "zip/pack/PackedLocalHeader.h"

#include <string>

#include "zip/common/BufferedFileStream.h"
#include "zip/codec/EntryData.h"
#include "zip/ZipExceptions.h"
#include "zip/records/ZipHeaderInfo.h"
#include "zip/common/ZipTypes.h"

namespace kvelv {

namespace {

constexpr uint64_t kLimit32 = 0xFFFFFFFF;

// Largest n with DeflateBound(n) < 0xFFFFFFFF, found once by bisection.
uint64_t ComputeMaxBytes() {
  uint64_t low = 0, high = kLimit32;
  while (low < high) {
    uint64_t mid = low + (high - low + 1) / 2;
    if (DeflateBound(mid) < kLimit32) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}

}  // namespace

bool NeedsZip64Reserve(uint64_t size) { return size > MaxBytesWithoutZip64Reserve(); }

uint64_t MaxBytesWithoutZip64Reserve() {
  static const uint64_t maxBytes = ComputeMaxBytes();
  return maxBytes;
}

int64_t WritePackedLocalHeader(BufferedFileStream& out, ZipHeaderInfo& entry, bool reserveZip64Sizes) {
  std::string name;
  if (entry.FileNameLength() != 0) {
    name = entry.EncodeEntryName(entry.FullName());
    if (name.size() > 0xFFFF) throw EZipException("Entry name too long: " + entry.FullName());
    entry.SetFileNameLength(static_cast<uint16_t>(name.size()));
  }
  const int64_t start = out.Position();
  entry.SetRelativeOffset(static_cast<uint64_t>(start));

  // Sizes that overflow on their own can only appear here when the caller did not reserve; they
  // still get the field, as the record format demands.
  const bool sizes64 = reserveZip64Sizes || entry.UncompressedSizeField() == kLimit32 ||
                       entry.CompressedSizeField() == kLimit32;
  const bool offset64 = entry.RelativeOffsetField() == kLimit32;
  const uint16_t zip64Size = static_cast<uint16_t>((sizes64 ? 16 : 0) + (offset64 ? 8 : 0));

  out.WriteU32(kLocalHeaderSignature);
  out.WriteU16(zip64Size != 0 ? 45 : 20);  // version needed to extract
  out.WriteU16(entry.Flag());
  out.WriteU16(entry.CompressionMethod());
  out.WriteU32(entry.DateTime());  // time, then date
  out.WriteU32(entry.Crc32());
  out.WriteU32(sizes64 ? 0xFFFFFFFF : entry.CompressedSizeField());
  out.WriteU32(sizes64 ? 0xFFFFFFFF : entry.UncompressedSizeField());
  out.WriteU16(static_cast<uint16_t>(name.size()));
  out.WriteU16(zip64Size != 0 ? static_cast<uint16_t>(4 + zip64Size) : 0);  // extra field length
  out.WriteAll(name.data(), static_cast<int64_t>(name.size()));
  if (zip64Size != 0) {
    out.WriteU16(kZip64ExtraId);
    out.WriteU16(zip64Size);
    if (sizes64) {
      out.WriteU64(entry.UncompressedSize());
      out.WriteU64(entry.CompressedSize());
    }
    if (offset64) out.WriteU64(entry.RelativeOffset());
  }
  return out.Position() - start;
}

}  // namespace kvelv
