#pragma once
// One archive entry: the fields of its local and central headers, its name split into directory
// and file name, its Zip64 and AES values, and the marks the reader keeps per entry.
#include <cstdint>
#include <optional>
#include <string>

#include "zip/common/ZipTypes.h"

namespace kvelv {

class BufferedFileStream;

// Full values of the Zip64 extended information extra field (0x0001).
struct Zip64Values {
  uint64_t uncompressedSize = 0;
  uint64_t compressedSize = 0;
  uint64_t relativeOffset = 0;
  uint32_t diskNumberStart = 0;
};

// The AES extra field (0x9901) as read.
struct AesExtraField {
  uint16_t vendorVersion = 0;
  uint16_t vendorId = 0;
  uint8_t strength = 0;          // 1 = 128, 2 = 192, 3 = 256 bits
  uint16_t actualMethod = 0;     // compression method of the data before encryption
};

class ZipHeaderInfo {
 public:
  // A new entry holds the ResetEntry() defaults.
  ZipHeaderInfo() = default;
  explicit ZipHeaderInfo(kvelv::OEMConvert conversion) : oemConvert_(conversion) {}

  // Defaults: made by 45, needed 20, method 8, crc 0xFFFFFFFF, internal attributes 1, external
  // 0x20, everything else 0 or empty; the name conversion mode is kept.
  void ResetEntry();

  // --- Header fields as stored --------------------------------------------------------------
  uint16_t VersionMadeBy() const { return versionMadeBy_; }
  void SetVersionMadeBy(uint16_t v) { versionMadeBy_ = v; }
  uint16_t VersionNeeded() const { return versionNeeded_; }
  void SetVersionNeeded(uint16_t v) { versionNeeded_ = v; }
  uint16_t Flag() const { return flag_; }
  void SetFlag(uint16_t v) { flag_ = v; }
  uint16_t CompressionMethod() const { return compressionMethod_; }
  void SetCompressionMethod(uint16_t v) { compressionMethod_ = v; }
  // DOS time in the low 16 bits, DOS date in the high 16 bits.
  uint32_t DateTime() const { return dateTime_; }
  void SetDateTime(uint32_t v) { dateTime_ = v; }
  uint32_t Crc32() const { return crc32_; }
  void SetCrc32(uint32_t v) { crc32_ = v; }

  // 64-bit values: the 32-bit field unless it is 0xFFFFFFFF, then the Zip64 value. Setting
  // 0xFFFFFFFF or more stores 0xFFFFFFFF and keeps the value among the Zip64 values.
  uint64_t UncompressedSize() const;
  void SetUncompressedSize(uint64_t v);
  uint64_t CompressedSize() const;
  void SetCompressedSize(uint64_t v);
  uint64_t RelativeOffset() const;
  void SetRelativeOffset(uint64_t v);
  // Disk number start: the Zip64 value when the 16-bit field is 0xFFFF.
  uint32_t DiskNumberStart() const;
  void SetDiskNumberStart(uint32_t v);

  // The 32-bit (16-bit) fields themselves.
  uint32_t UncompressedSizeField() const { return uncompressedSize_; }
  uint32_t CompressedSizeField() const { return compressedSize_; }
  uint32_t RelativeOffsetField() const { return relativeOffset_; }
  uint16_t DiskNumberStartField() const { return diskNumberStart_; }

  uint16_t FileNameLength() const { return fileNameLength_; }
  void SetFileNameLength(uint16_t v) { fileNameLength_ = v; }
  uint16_t CentralExtraLength() const { return centralExtraLength_; }
  void SetCentralExtraLength(uint16_t v) { centralExtraLength_ = v; }
  uint16_t LocalExtraLength() const { return localExtraLength_; }
  void SetLocalExtraLength(uint16_t v) { localExtraLength_ = v; }
  uint16_t FileCommentLength() const { return fileCommentLength_; }
  void SetFileCommentLength(uint16_t v) { fileCommentLength_ = v; }
  uint16_t InternalAttributes() const { return internalAttributes_; }
  void SetInternalAttributes(uint16_t v) { internalAttributes_ = v; }
  uint32_t ExternalAttributes() const { return externalAttributes_; }
  void SetExternalAttributes(uint32_t v) { externalAttributes_ = v; }

  // Position of the entry's central directory header (set when read).
  int64_t CentralHeaderPosition() const { return centralHeaderPosition_; }
  void SetCentralHeaderPosition(int64_t v) { centralHeaderPosition_ = v; }

  // --- Name ---------------------------------------------------------------------------------
  // In memory the directory uses kEntrySeparator ("/" on POSIX, "\" on Windows) and is empty or
  // ends with it.
  const std::string& FileName() const { return fileName_; }
  // Marks the file name length as not zero; the real length is computed when a header is written.
  void SetFileName(const std::string& name);
  const std::string& Directory() const { return directory_; }
  // Appends kEntrySeparator when the value does not end with it (an empty value stays empty).
  void SetDirectory(const std::string& directory);
  std::string FullName() const { return directory_ + fileName_; }

  // --- Zip64, AES, comment, marks ------------------------------------------------------------
  const std::optional<Zip64Values>& Zip64() const { return zip64_; }
  bool HasZip64() const { return zip64_.has_value(); }
  void DropZip64() { zip64_.reset(); }
  const std::optional<AesExtraField>& Aes() const { return aes_; }
  void SetAes(const AesExtraField& aes) { aes_ = aes; }
  kvelv::EncryptStrength EncryptStrength() const { return encryptStrength_; }
  void SetEncryptStrength(kvelv::EncryptStrength v) { encryptStrength_ = v; }
  // Set for an entry rebuilt from a local header whose sizes and CRC live in a data descriptor
  // that could not be found: its data cannot be checked, so it never passes a test.
  bool SizesUnknown() const { return sizesUnknown_; }
  void SetSizesUnknown(bool v) { sizesUnknown_ = v; }
  // Encrypted: bit 0 set or method 99 (the AES method as stored).
  bool IsEncrypted() const { return (flag_ & kFlagEncrypted) != 0 || compressionMethod_ == kMethodAes; }

  const std::string& FileComment() const { return fileComment_; }
  void SetFileComment(const std::string& bytes) { fileComment_ = bytes; }

  uint8_t Matched() const { return matched_; }
  void SetMatched(uint8_t v) { matched_ = v; }
  // 0 not tested, 1 passed, 2 failed or under test.
  uint8_t TestStatus() const { return testStatus_; }
  void SetTestStatus(uint8_t v) { testStatus_ = v; }
  uint8_t Selected() const { return selected_; }
  void SetSelected(uint8_t v) { selected_ = v; }
  kvelv::OEMConvert OEMConvert() const { return oemConvert_; }
  void SetOEMConvert(kvelv::OEMConvert v) { oemConvert_ = v; }

  // For entries read from an archive: where the central extra field starts, its length as read
  // and the length of the Zip64 field (head included) within it.
  int64_t ExtraPosition() const { return extraPosition_; }
  uint16_t ExtraLengthRead() const { return extraLengthRead_; }
  uint16_t Zip64FieldLength() const { return zip64FieldLength_; }

  // --- Writing ------------------------------------------------------------------------------
  // The stored name bytes of `name` (directory then file name). Takes the OEM road (bit 11
  // clear) when the name survives the ANSI and OEM round trips, else stores UTF-8 and sets bit
  // 11 and the upper byte 0x0B of version made by.
  std::string EncodeEntryName(const std::string& name);
  // The two headers of an entry, whose Zip64 data differ.
  enum class Header { Local, Central };
  // Bytes of Zip64 data the local or central header needs; 0 for none.
  uint16_t Zip64DataSize(Header header) const;
  // Writes the Zip64 extra field (head included) in its local or central form.
  void WriteZip64Extra(BufferedFileStream& out, Header header) const;
  // Writes the local header at the current position and records that position as the relative
  // offset. Throws ENotEnoughRoom when the stream cannot take the bytes.
  void WriteLocalHeader(BufferedFileStream& out);
  // Writes the central header. With `source` (the archive the entry was read from) the entry's
  // central extra fields are carried over except 0x0001 and 0x9901. Throws ENotEnoughRoom.
  void WriteCentralHeader(BufferedFileStream& out, BufferedFileStream* source);

  // --- Reading ------------------------------------------------------------------------------
  // Reads a central header at the current position: fields, name (UTF-8, then the OEM step),
  // extra fields 0x0001, 0x7075 and 0x9901. On success the stream stands right after the file
  // name; on failure it is back where it was and nothing can be relied on.
  bool ReadCentralHeader(BufferedFileStream& in);
  // Reads a local header at the current position (name in the ANSI code page, as recovery
  // needs); sets the relative offset to that position. On success the stream stands right
  // after the name; on failure it is back where it was.
  bool ReadLocalHeader(BufferedFileStream& in);

 private:
  Zip64Values& Zip64Slot();

  uint16_t versionMadeBy_ = 45;
  uint16_t versionNeeded_ = 20;
  uint16_t flag_ = 0;
  uint32_t dateTime_ = 0;
  uint32_t crc32_ = 0xFFFFFFFF;
  uint32_t compressedSize_ = 0;
  uint32_t uncompressedSize_ = 0;
  uint16_t fileNameLength_ = 0;
  uint16_t centralExtraLength_ = 0;
  uint16_t localExtraLength_ = 0;
  uint16_t fileCommentLength_ = 0;
  uint16_t diskNumberStart_ = 0;
  uint16_t internalAttributes_ = 1;
  uint32_t externalAttributes_ = 0x20;
  uint32_t relativeOffset_ = 0;
  int64_t centralHeaderPosition_ = 0;
  std::string fileName_;
  std::string directory_;
  std::optional<Zip64Values> zip64_;
  std::optional<AesExtraField> aes_;
  kvelv::EncryptStrength encryptStrength_ = kvelv::EncryptStrength::esPKStandard;
  std::string fileComment_;
  uint8_t matched_ = 0;
  uint8_t testStatus_ = 0;
  uint8_t selected_ = 0;
  kvelv::OEMConvert oemConvert_ = kvelv::OEMConvert::oemFlexible;
  int64_t extraPosition_ = 0;
  uint16_t extraLengthRead_ = 0;
  uint16_t zip64FieldLength_ = 0;
  uint16_t compressionMethod_ = 8;
  bool sizesUnknown_ = false;
};

// Decodes stored name bytes as the reader does: UTF-8 (invalid bytes become U+FFFD), "/" to
// "\", then, when bit 11 is clear, `conversion` is oemFlexible, version made by does not
// carry 0x0B00 and the host is not Unix (3), the OEM-to-ANSI step that undoes the OEM road of
// EncodeEntryName.
std::string DecodeEntryName(const std::string& stored, uint16_t flag, uint16_t versionMadeBy,
                            kvelv::OEMConvert conversion);
// The OEM step alone on an already decoded name.
std::string UndoOemRoad(const std::string& name);

}  // namespace kvelv
