#include "zip/records/ZipHeaderInfo.h"

#include <algorithm>

#include "zip/common/ZipText.h"

namespace kvelv {

namespace {
constexpr uint32_t kAllOnes32 = 0xFFFFFFFF;
constexpr uint16_t kAllOnes16 = 0xFFFF;
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
  if (!directory_.empty() && directory_.back() != kEntrySeparator) directory_ += kEntrySeparator;
  fileNameLength_ = (fileName_.empty() && directory_.empty()) ? 0 : std::max<uint16_t>(fileNameLength_, 1);
}


}  // namespace kvelv
