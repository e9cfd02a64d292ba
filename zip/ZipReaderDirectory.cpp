// Finding the end records and loading the central directory into the entry list.
#include <algorithm>
#include <vector>

#include "platform/FileSystem.h"
#include "zip/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

namespace kvelv {

namespace {

using DataRanges = std::vector<std::pair<uint64_t, uint64_t>>;  // local header offset, compressed size

DataRanges RangesOf(const SortedZip& entries) {
  DataRanges ranges;
  ranges.reserve(static_cast<size_t>(entries.Count()));
  for (int i = 0; i < entries.Count(); ++i) ranges.emplace_back(entries[i].RelativeOffset(), entries[i].CompressedSize());
  return ranges;
}

// True when one entry's data runs into the next entry's local header: entries that share data
// would let a small archive stand for many copies of the same large content. Each local header
// is at least 30 bytes, so this never flags a sound archive.
bool DataRangesOverlap(DataRanges ranges) {
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 0; i + 1 < ranges.size(); ++i) {
    const auto [offset, size] = ranges[i];
    const uint64_t next = ranges[i + 1].first;
    if (next - offset < 30 || size > next - offset - 30) return true;
  }
  return false;
}
}  // namespace

bool ZipReader::FindEndRecord(BufferedFileStream& stream, EndCentral& record) {
  const int64_t size = stream.Size();
  if (size < 0) return false;
  if (size < kEndCentralSize) {
    // An empty file is an archive without entries; any other short file has no end record.
    if (size != 0) return false;
    record.ResetEndRecord();
    return true;
  }
  const int64_t window = std::min<int64_t>(kEndCentralSize + 65535, size);
  const int64_t start = size - window;
  std::vector<uint8_t> tail(static_cast<size_t>(window));
  if (!stream.Seek(start) || !stream.ReadExact(tail.data(), window)) return false;

  int64_t at = -1;
  for (int64_t i = window - kEndCentralSize; i >= 0; --i) {
    if (tail[static_cast<size_t>(i)] == 0x50 && GetU32(&tail[static_cast<size_t>(i)]) == kEndCentralSignature) {
      at = i;
      break;
    }
  }
  if (at < 0) return false;

  record.ResetEndRecord();
  record.LoadRecord(&tail[static_cast<size_t>(at)]);
  record.SetCommentPosition(start + at + kEndCentralSize);

  // A Zip64 locator ends where the end record begins.
  if (at >= kZip64LocatorSize &&
      GetU32(&tail[static_cast<size_t>(at - kZip64LocatorSize)]) == kZip64LocatorSignature) {
    const Zip64Locator locator = EndCentral::ParseLocator(&tail[static_cast<size_t>(at - kZip64LocatorSize)]);
    const int64_t locatorPosition = start + at - kZip64LocatorSize;
    // The record it points to must lie wholly before the locator.
    if (locator.zip64Offset <= static_cast<uint64_t>(locatorPosition) &&
        static_cast<uint64_t>(locatorPosition) - locator.zip64Offset >= kZip64EndCentralSize) {
      uint8_t bytes[kZip64EndCentralSize];
      if (stream.Seek(static_cast<int64_t>(locator.zip64Offset)) &&
          stream.ReadExact(bytes, sizeof bytes) && GetU32(bytes) == kZip64EndCentralSignature) {
        record.SetZip64Record(EndCentral::ParseZip64Record(bytes));
        record.SetLocator(locator);
      }
    }
  }
  return record.CentralDisk() <= record.ThisDisk();
}

void ZipReader::LoadDirectory() {
  BufferedFileStream& archive = *archive_;
  sortedView_.reset();
  entries_.reset();
  stampValid_ = false;
  rebuilt_ = false;
  recoveryTried_ = false;
  int64_t stampTime = 0;
  int64_t stampSize = 0;
  const bool haveStamp = ArchiveStamp(stampTime, stampSize);

  EndCentral record;
  bool found = FindEndRecord(archive, record);
  BufferedFileStream* directory = &archive;
  std::unique_ptr<BufferedFileStream> sideFile;
  if (!found && !source_) {
    // A side file with the archive's name and ".zfc" may hold the end record and directory.
    const std::string zfcName = zipNameNoExt_ + ".zfc";
    if (platform::FileExists(zfcName)) {
      auto stream = std::make_unique<BufferedFileStream>(StreamBufferSize);
      std::error_code ec;
      if (stream->Open(zfcName, platform::OpenMode::ReadDenyWrite, ec) &&
          FindEndRecord(*stream, record)) {
        found = true;
        sideFile = std::move(stream);
        directory = sideFile.get();
      }
    }
  }

  if (found) {
    if (record.ThisDisk() != 0 || record.CentralDisk() != 0 ||
        (record.Locator() && record.Locator()->totalDisks > 1))
      throw EMultiPartUnsupported(
          "This archive is one part of a multi-part set; such archives are not supported");
    endCentral_ = record;
  } else {
    kvelv::IncompleteZipMode mode = incompleteZipMode_;
    if (OnInCompleteZip) {
      OnInCompleteZip(mode);
      incompleteZipMode_ = mode;
    }
    if (mode == kvelv::IncompleteZipMode::izAssumeNotAZip) throw ENotAZipFile(zip_text::kNotAZip);
    if (mode == kvelv::IncompleteZipMode::izAssumeMulti) throw EIncompleteZip(zip_text::kIncompleteZip);
    if (!RecoverFromLocalHeaders()) {
      ResetArchive();
      throw EBadZipFile(zip_text::kNotAZip);
    }
  }

  currentDisk_ = 0;
  multiMode_ = kvelv::MultiMode::mmNone;
  const int64_t directorySize = directory->Size();
  if (!entries_) entries_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);

  // A hostile entry count never reserves more than the file could hold.
  const uint64_t headersThatFit =
      static_cast<uint64_t>(std::max<int64_t>(directorySize, 0)) / kCentralHeaderSize;
  // Recovery from local headers, at most once; false when it cannot help.
  auto recover = [&]() {
    if (rebuilt_ || recoveryTried_ || sideFile) return false;
    return RecoverFromLocalHeaders();
  };

  // Every entry's data range, also of the folder entries left out of the list.
  DataRanges ranges;
  for (bool restart = true; restart;) {
    restart = false;
    ranges.clear();
    foldersLeftOut_ = 0;
    const uint64_t total = endCentral_.TotalEntries();
    if (total > 0) {
      const uint64_t offset = sideFile ? 0 : endCentral_.CentralOffset();
      // An offset outside the file makes the first header read fail below.
      directory->Seek(offset <= static_cast<uint64_t>(std::max<int64_t>(directorySize, 0))
                          ? static_cast<int64_t>(offset)
                          : std::max<int64_t>(directorySize, 0));
    }
    std::vector<std::unique_ptr<ZipHeaderInfo>> loaded;
    if (!rebuilt_ && !leaveOutFolders_) {
      loaded.reserve(static_cast<size_t>(std::min<uint64_t>({total, headersThatFit, 1u << 20})));
    }
    ZipHeaderInfo* previous = nullptr;
    std::unique_ptr<ZipHeaderInfo> lastLeftOut;
    for (uint64_t i = 0; i < total; ++i) {
      ProcessMessages();
      auto entry = std::make_unique<ZipHeaderInfo>(oemConvert_);
      bool ok = entry->ReadCentralHeader(*directory);
      if (!ok && previous != nullptr && previous->CentralExtraLength() > 0) {
        // Perhaps the previous entry had no extra field after all.
        const int64_t back = previous->CentralExtraLength();
        previous->SetCentralExtraLength(0);
        directory->Seek(directory->Position() - back);
        ok = entry->ReadCentralHeader(*directory);
      }
      if (!ok) {
        if (rebuilt_) break;  // after recovery the first unreadable header ends the directory
        if (recover()) {
          restart = true;
          break;
        }
        ResetArchive();
        throw EBadZipFile(zip_text::kNotAZip);
      }
      // Step over the extra field and the file comment.
      directory->Seek(directory->Position() + entry->CentralExtraLength() + entry->FileCommentLength());

      if (rebuilt_) {
        // Complete the entry found at the same place by the scan; drop headers without one.
        int at = 0;
        if (entries_->Find(*entry, at)) {
          ZipHeaderInfo* scanned = entries_->Items(at);
          *scanned = *entry;
          previous = scanned;
        }
        continue;
      }
      previous = entry.get();
      ranges.emplace_back(entry->RelativeOffset(), entry->CompressedSize());
      if (leaveOutFolders_ && entry->FileName().empty() && !entry->Directory().empty()) {
        ++foldersLeftOut_;
        lastLeftOut = std::move(entry);  // kept until the next header: it may need mending
        continue;
      }
      loaded.push_back(std::move(entry));
    }
    if (restart || rebuilt_) continue;

    // Two entries at the same disk and offset make the directory unusable.
    std::vector<ZipHeaderInfo*> raw;
    raw.reserve(loaded.size());
    for (auto& entry : loaded) raw.push_back(entry.release());
    try {
      entries_->Assign(std::move(raw));
    } catch (const EListError&) {
      if (recover()) {
        restart = true;
        continue;
      }
      ResetArchive();
      throw EBadZipFile(zip_text::kNotAZip);
    }
  }

  if (entries_ && DataRangesOverlap(rebuilt_ ? RangesOf(*entries_) : std::move(ranges))) {
    ResetArchive();
    throw EBadZipFile(zip_text::kNotAZip);
  }

  numberOfDisks_ = static_cast<int>(endCentral_.ThisDisk()) + 1;
  currentDisk_ = sideFile ? 0 : static_cast<int>(endCentral_.ThisDisk());
  if (sideFile) sideFile->Close();
  loadedTime_ = stampTime;
  loadedSize_ = stampSize;
  stampValid_ = haveStamp;
  BuildSortedView();
}

}  // namespace kvelv
