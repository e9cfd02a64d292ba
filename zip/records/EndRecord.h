#pragma once
// The end of central directory record, its archive comment and, when needed, the Zip64 end of
// central directory record and locator.
#include <cstdint>
#include <optional>
#include <string>

#include "zip/common/ZipTypes.h"

namespace kvelv {

class BufferedFileStream;

struct Zip64EndRecord {
  uint32_t signature = kZip64EndCentralSignature;
  uint64_t recordSize = 44;
  uint16_t versionMadeBy = 45;
  uint16_t versionNeeded = 45;
  uint32_t thisDisk = 0;
  uint32_t centralDisk = 0;
  uint64_t entriesThisDisk = 0;
  uint64_t totalEntries = 0;
  uint64_t centralSize = 0;
  uint64_t centralOffset = 0;
};

struct Zip64Locator {
  uint32_t signature = kZip64LocatorSignature;
  uint32_t zip64Disk = 0;
  uint64_t zip64Offset = 0;
  uint32_t totalDisks = 1;
};

class EndRecord {
 public:
  EndRecord() = default;

  // Signature set, every number zero, comment dropped, modified mark cleared, Zip64 dropped.
  void ResetEndRecord();

  // Effective values: the Zip64 record's value when the field holds its overflow value and the
  // Zip64 record exists. Setting a value that does not fit stores the overflow value and keeps
  // the full value in the Zip64 record (created on first need).
  uint32_t ThisDisk() const;
  void SetThisDisk(uint32_t v);
  uint32_t CentralDisk() const;
  void SetCentralDisk(uint32_t v);
  uint64_t EntriesThisDisk() const;
  void SetEntriesThisDisk(uint64_t v);
  uint64_t TotalEntries() const;
  void SetTotalEntries(uint64_t v);
  uint64_t CentralSize() const;
  void SetCentralSize(uint64_t v);
  uint64_t CentralOffset() const;
  void SetCentralOffset(uint64_t v);

  // The fields as stored.
  uint32_t Signature() const { return signature_; }
  uint16_t ThisDiskField() const { return thisDisk_; }
  uint16_t CentralDiskField() const { return centralDisk_; }
  uint16_t EntriesThisDiskField() const { return entriesThisDisk_; }
  uint16_t TotalEntriesField() const { return totalEntries_; }
  uint32_t CentralSizeField() const { return centralSize_; }
  uint32_t CentralOffsetField() const { return centralOffset_; }
  uint16_t CommentLength() const { return commentLength_; }

  const std::string& Comment() const { return comment_; }
  // Stores the comment bytes (at most 65535) and their length.
  void SetComment(const std::string& bytes);
  // Sets only the comment length (the reader does not load the comment of a single archive).
  void SetCommentLength(uint16_t v) { commentLength_ = v; }
  int64_t CommentPosition() const { return commentPosition_; }
  void SetCommentPosition(int64_t v) { commentPosition_ = v; }
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }

  const std::optional<Zip64EndRecord>& Zip64Record() const { return zip64Record_; }
  const std::optional<Zip64Locator>& Locator() const { return locator_; }
  void SetZip64Record(const Zip64EndRecord& record) { zip64Record_ = record; }
  void SetLocator(const Zip64Locator& locator) { locator_ = locator; }
  void DropZip64() { zip64Record_.reset(); locator_.reset(); }
  // True when one of the six number fields holds its overflow value.
  bool AnyOverflow() const;

  // Takes the numbers of a 22-byte end of central directory record (signature not checked).
  void LoadRecord(const uint8_t* record);
  // Parses a 56-byte Zip64 end record / a 20-byte locator (signatures not checked).
  static Zip64EndRecord ParseZip64Record(const uint8_t* bytes);
  static Zip64Locator ParseLocator(const uint8_t* bytes);

  // Writes the Zip64 end record and locator when a number overflowed (dropping them when none
  // did), then the 22-byte record and the comment. Throws ENotEnoughRoom.
  void WriteEndRecords(BufferedFileStream& out);

 private:
  Zip64EndRecord& Zip64Slot();

  uint32_t signature_ = kEndCentralSignature;
  uint16_t thisDisk_ = 0;
  uint16_t centralDisk_ = 0;
  uint16_t entriesThisDisk_ = 0;
  uint16_t totalEntries_ = 0;
  uint32_t centralSize_ = 0;
  uint32_t centralOffset_ = 0;
  uint16_t commentLength_ = 0;
  std::string comment_;
  int64_t commentPosition_ = 0;
  bool modified_ = false;
  std::optional<Zip64EndRecord> zip64Record_;
  std::optional<Zip64Locator> locator_;
};

}  // namespace kvelv
