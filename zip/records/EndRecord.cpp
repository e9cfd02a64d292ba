#include "zip/records/EndRecord.h"

#include "zip/common/BufferedFileStream.h"
#include "zip/common/LittleEndian.h"

namespace kvelv {

namespace {
constexpr uint16_t kMax16 = 0xFFFF;
constexpr uint32_t kMax32 = 0xFFFFFFFF;
}  // namespace

void EndRecord::ResetEndRecord() { *this = EndRecord(); }

Zip64EndRecord& EndRecord::Zip64Slot() {
  if (!zip64Record_) zip64Record_.emplace();
  return *zip64Record_;
}

uint32_t EndRecord::ThisDisk() const {
  return (thisDisk_ == kMax16 && zip64Record_) ? zip64Record_->thisDisk : thisDisk_;
}
void EndRecord::SetThisDisk(uint32_t v) {
  if (v > 65534) {
    thisDisk_ = kMax16;
    Zip64Slot().thisDisk = v;
  } else {
    thisDisk_ = static_cast<uint16_t>(v);
    if (zip64Record_) zip64Record_->thisDisk = v;
  }
}

uint32_t EndRecord::CentralDisk() const {
  return (centralDisk_ == kMax16 && zip64Record_) ? zip64Record_->centralDisk : centralDisk_;
}
void EndRecord::SetCentralDisk(uint32_t v) {
  if (v > 65534) {
    centralDisk_ = kMax16;
    Zip64Slot().centralDisk = v;
  } else {
    centralDisk_ = static_cast<uint16_t>(v);
    if (zip64Record_) zip64Record_->centralDisk = v;
  }
}

uint64_t EndRecord::EntriesThisDisk() const {
  return (entriesThisDisk_ == kMax16 && zip64Record_) ? zip64Record_->entriesThisDisk
                                                      : entriesThisDisk_;
}
void EndRecord::SetEntriesThisDisk(uint64_t v) {
  if (v > 65534) {
    entriesThisDisk_ = kMax16;
    Zip64Slot().entriesThisDisk = v;
  } else {
    entriesThisDisk_ = static_cast<uint16_t>(v);
    if (zip64Record_) zip64Record_->entriesThisDisk = v;
  }
}

uint64_t EndRecord::TotalEntries() const {
  return (totalEntries_ == kMax16 && zip64Record_) ? zip64Record_->totalEntries : totalEntries_;
}
void EndRecord::SetTotalEntries(uint64_t v) {
  if (v > 65534) {
    totalEntries_ = kMax16;
    Zip64Slot().totalEntries = v;
  } else {
    totalEntries_ = static_cast<uint16_t>(v);
    if (zip64Record_) zip64Record_->totalEntries = v;
  }
}

uint64_t EndRecord::CentralSize() const {
  return (centralSize_ == kMax32 && zip64Record_) ? zip64Record_->centralSize : centralSize_;
}
void EndRecord::SetCentralSize(uint64_t v) {
  if (v >= kMax32) {
    centralSize_ = kMax32;
    Zip64Slot().centralSize = v;
  } else {
    centralSize_ = static_cast<uint32_t>(v);
    if (zip64Record_) zip64Record_->centralSize = v;
  }
}

uint64_t EndRecord::CentralOffset() const {
  return (centralOffset_ == kMax32 && zip64Record_) ? zip64Record_->centralOffset : centralOffset_;
}
void EndRecord::SetCentralOffset(uint64_t v) {
  if (v >= kMax32) {
    centralOffset_ = kMax32;
    Zip64Slot().centralOffset = v;
  } else {
    centralOffset_ = static_cast<uint32_t>(v);
    if (zip64Record_) zip64Record_->centralOffset = v;
  }
}

void EndRecord::SetComment(const std::string& bytes) {
  comment_ = bytes.size() > kMax16 ? bytes.substr(0, kMax16) : bytes;
  commentLength_ = static_cast<uint16_t>(comment_.size());
}

bool EndRecord::AnyOverflow() const {
  return thisDisk_ == kMax16 || centralDisk_ == kMax16 || entriesThisDisk_ == kMax16 ||
         totalEntries_ == kMax16 || centralSize_ == kMax32 || centralOffset_ == kMax32;
}

void EndRecord::LoadRecord(const uint8_t* r) {
  signature_ = GetU32(r);           // end of central dir signature
  thisDisk_ = GetU16(r + 4);        // number of this disk
  centralDisk_ = GetU16(r + 6);     // disk with the start of the central directory
  entriesThisDisk_ = GetU16(r + 8); // entries on this disk
  totalEntries_ = GetU16(r + 10);   // total entries
  centralSize_ = GetU32(r + 12);    // size of the central directory
  centralOffset_ = GetU32(r + 16);  // offset of the central directory
  commentLength_ = GetU16(r + 20);  // comment length
}

Zip64EndRecord EndRecord::ParseZip64Record(const uint8_t* b) {
  Zip64EndRecord z;
  z.signature = GetU32(b);
  z.recordSize = GetU64(b + 4);
  z.versionMadeBy = GetU16(b + 12);
  z.versionNeeded = GetU16(b + 14);
  z.thisDisk = GetU32(b + 16);
  z.centralDisk = GetU32(b + 20);
  z.entriesThisDisk = GetU64(b + 24);
  z.totalEntries = GetU64(b + 32);
  z.centralSize = GetU64(b + 40);
  z.centralOffset = GetU64(b + 48);
  return z;
}

Zip64Locator EndRecord::ParseLocator(const uint8_t* b) {
  Zip64Locator l;
  l.signature = GetU32(b);
  l.zip64Disk = GetU32(b + 4);
  l.zip64Offset = GetU64(b + 8);
  l.totalDisks = GetU32(b + 16);
  return l;
}

void EndRecord::WriteEndRecords(BufferedFileStream& out) {
  if (zip64Record_) {
    Zip64Locator locator;
    locator.zip64Disk = ThisDisk();
    locator.zip64Offset = static_cast<uint64_t>(out.Position());
    locator.totalDisks = ThisDisk() + 1;
    Zip64EndRecord& z = *zip64Record_;
    if (thisDisk_ != kMax16) z.thisDisk = thisDisk_;
    if (centralDisk_ != kMax16) z.centralDisk = centralDisk_;
    if (entriesThisDisk_ != kMax16) z.entriesThisDisk = entriesThisDisk_;
    if (totalEntries_ != kMax16) z.totalEntries = totalEntries_;
    if (centralSize_ != kMax32) z.centralSize = centralSize_;
    if (centralOffset_ != kMax32) z.centralOffset = centralOffset_;
    if (AnyOverflow()) {
      uint8_t b[kZip64EndCentralSize + kZip64LocatorSize];
      PutU32(b + 0, z.signature);
      PutU64(b + 4, z.recordSize);
      PutU16(b + 12, z.versionMadeBy);
      PutU16(b + 14, z.versionNeeded);
      PutU32(b + 16, z.thisDisk);
      PutU32(b + 20, z.centralDisk);
      PutU64(b + 24, z.entriesThisDisk);
      PutU64(b + 32, z.totalEntries);
      PutU64(b + 40, z.centralSize);
      PutU64(b + 48, z.centralOffset);
      uint8_t* l = b + kZip64EndCentralSize;
      PutU32(l + 0, locator.signature);
      PutU32(l + 4, locator.zip64Disk);
      PutU64(l + 8, locator.zip64Offset);
      PutU32(l + 16, locator.totalDisks);
      out.WriteAll(b, sizeof b);
      locator_ = locator;
    } else {
      DropZip64();
    }
  }
  // The comment length written is that of the comment bytes actually written.
  uint8_t r[kEndCentralSize];
  PutU32(r + 0, signature_);
  PutU16(r + 4, thisDisk_);
  PutU16(r + 6, centralDisk_);
  PutU16(r + 8, entriesThisDisk_);
  PutU16(r + 10, totalEntries_);
  PutU32(r + 12, centralSize_);
  PutU32(r + 16, centralOffset_);
  PutU16(r + 20, static_cast<uint16_t>(comment_.size()));
  out.WriteAll(r, sizeof r);
  out.WriteAll(comment_.data(), static_cast<int64_t>(comment_.size()));
}

}  // namespace kvelv
