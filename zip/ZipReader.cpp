#include "zip/ZipReader.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/FileSystem.h"
#include "zip/DosDateTime.h"
#include "zip/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipText.h"

namespace kvelv {

namespace {

const char kNotAZip[] = "Not a valid zip file!";

// The name without its extension (the extension starts at the last "." of the last component).
std::string WithoutExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path;
  return path.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) {
  const std::string stem = WithoutExtension(path);
  return path.substr(stem.size());
}

}  // namespace

ZipReader::ZipReader() = default;

ZipReader::~ZipReader() { ResetArchive(); }

// --- Properties -------------------------------------------------------------------------------

void ZipReader::SetZipName(const std::string& value) {
  // Exact comparison: on a case-sensitive file system "A.zip" and "a.zip" are two archives.
  if (value == zipName_) return;
  zipName_ = value;
  zipNameNoExt_ = WithoutExtension(value);
  entries_.reset();
  sortedView_.reset();
  stampValid_ = false;
  endCentral_.ResetEndRecord();
  CloseArchive();
  rebuilt_ = false;
  recoveryTried_ = false;
}

void ZipReader::SetDestDir(const std::string& value) {
  destDir_ = value;
  if (!destDir_.empty() && destDir_.back() == platform::kSeparator) destDir_.pop_back();
}

void ZipReader::SetRootDir(const std::string& value) {
  rootDir_ = value;
  if (!rootDir_.empty() && rootDir_.back() != platform::kSeparator) rootDir_ += platform::kSeparator;
  relativePathList_.clear();
  if (!rootDir_.empty()) relativePathList_.push_back(rootDir_);
}

void ZipReader::SetSortMode(ZipSortMode mode) {
  sortMode_ = mode;
  if (entries_) BuildSortedView();
}

// --- Directory --------------------------------------------------------------------------------

void ZipReader::ReadDirectory() {
  cancel_ = false;
  improper_ = false;
  FlagGuard busy(busy_, true);
  FlagGuard operating(operating_, true);
  // One retry when a handler of OnInCompleteZip may have changed the mode; never an endless loop.
  for (int attempt = 0;; ++attempt) {
    try {
      OpenArchive();
      CloseArchiveUnlessKept();
      return;
    } catch (const EIncompleteZip&) {
      CloseArchive();
      if (!OnInCompleteZip || attempt > 0) return;
    } catch (...) {
      ResetArchive();
      throw;
    }
  }
}

int ZipReader::EntryCount() const { return entries_ ? entries_->Count() : 0; }

SortedZip* ZipReader::View() const {
  return sortedView_ ? sortedView_.get() : entries_.get();
}

ZipHeaderInfo& ZipReader::EntryAt(int index) const {
  SortedZip* view = View();
  if (view == nullptr) throw EListError("Index " + std::to_string(index) + " is out of range");
  return *view->Items(index);
}

const ZipHeaderInfo& ZipReader::Entry(int index) const { return EntryAt(index); }

std::string ZipReader::EntryFileName(int index) const { return EntryAt(index).FileName(); }

std::string ZipReader::EntryDirectory(int index) const { return EntryAt(index).Directory(); }

uint32_t ZipReader::EntryDateTime(int index) const {
  return NormalizeDosDateTime(EntryAt(index).DateTime());
}

void ZipReader::ResetArchive() {
  CloseArchive();
  sortedView_.reset();
  entries_.reset();
  endCentral_.ResetEndRecord();
  stampValid_ = false;
  rebuilt_ = false;
  recoveryTried_ = false;
  numberOfDisks_ = 1;
  currentDisk_ = 0;
  multiMode_ = kvelv::MultiMode::mmNone;
  zipName_.clear();
  zipNameNoExt_.clear();
}

void ZipReader::BuildSortedView() {
  sortedView_.reset();
  if (!entries_ || sortMode_ == ZipSortMode::ByNone) return;
  auto view = std::make_unique<SortedZip>(sortMode_, DuplicatePolicy::Accept, false);
  view->Reserve(entries_->Count());
  for (ZipHeaderInfo* entry : *entries_) view->Add(entry);
  sortedView_ = std::move(view);
}

// --- Opening ----------------------------------------------------------------------------------

bool ZipReader::ArchiveStamp(int64_t& time, int64_t& size) const {
  const auto info = platform::GetFileInfo(zipName_);
  if (!info) return false;
  time = info->lastWriteTime;
  size = info->size;
  return true;
}

void ZipReader::RememberArchiveStamp() {
  stampValid_ = ArchiveStamp(loadedTime_, loadedSize_);
}

void ZipReader::OpenArchive() {
  if (!archive_) {
    auto stream = std::make_unique<BufferedFileStream>(StreamBufferSize);
    stream->OpenOrThrow(zipName_, platform::OpenMode::ReadDenyWrite);
    archive_ = std::move(stream);
  }
  int64_t time = 0;
  int64_t size = 0;
  if (entries_ && stampValid_ && ArchiveStamp(time, size) && time == loadedTime_ &&
      size == loadedSize_)
    return;
  LoadDirectory();
}

void ZipReader::CloseArchive() {
  if (archive_) archive_->Close();
  archive_.reset();
}

void ZipReader::CloseArchiveUnlessKept() {
  if (!keepZipOpen_) CloseArchive();
}

// --- Loading the directory --------------------------------------------------------------------

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
  if (!found) {
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
    if (mode == kvelv::IncompleteZipMode::izAssumeNotAZip) throw ENotAZipFile(kNotAZip);
    if (mode == kvelv::IncompleteZipMode::izAssumeMulti) throw EIncompleteZip("Incomplete Zip File");
    if (!RecoverFromLocalHeaders()) {
      ResetArchive();
      throw EBadZipFile(kNotAZip);
    }
  }

  currentDisk_ = 0;
  multiMode_ = kvelv::MultiMode::mmNone;
  const int64_t directorySize = directory->Size();
  if (!entries_) entries_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, true);

  // A hostile entry count never reserves more than the file could hold.
  auto reserveFor = [&](uint64_t total) {
    const uint64_t fits = static_cast<uint64_t>(std::max<int64_t>(directorySize, 0)) / kCentralHeaderSize;
    entries_->Reserve(static_cast<int>(std::min<uint64_t>({total, fits, 1u << 20})));
  };
  // Recovery from local headers, at most once; false when it cannot help.
  auto recover = [&]() {
    if (rebuilt_ || recoveryTried_ || sideFile) return false;
    return RecoverFromLocalHeaders();
  };

  for (bool restart = true; restart;) {
    restart = false;
    const uint64_t total = endCentral_.TotalEntries();
    reserveFor(total);
    if (total > 0) {
      const uint64_t offset = sideFile ? 0 : endCentral_.CentralOffset();
      // An offset outside the file makes the first header read fail below.
      directory->Seek(offset <= static_cast<uint64_t>(std::max<int64_t>(directorySize, 0))
                          ? static_cast<int64_t>(offset)
                          : std::max<int64_t>(directorySize, 0));
    }
    ZipHeaderInfo* previous = nullptr;
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
        throw EBadZipFile(kNotAZip);
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
      ZipHeaderInfo* raw = entry.get();
      try {
        entries_->Add(std::move(entry));
      } catch (const EListError&) {
        if (recover()) {
          restart = true;
          break;
        }
        ResetArchive();
        throw EBadZipFile(kNotAZip);
      }
      previous = raw;
    }
  }

  numberOfDisks_ = static_cast<int>(endCentral_.ThisDisk()) + 1;
  currentDisk_ = sideFile ? 0 : static_cast<int>(endCentral_.ThisDisk());
  if (sideFile) sideFile->Close();
  loadedTime_ = stampTime;
  loadedSize_ = stampSize;
  stampValid_ = haveStamp;
  BuildSortedView();
}

bool ZipReader::RecoverFromLocalHeaders() {
  recoveryTried_ = true;
  improper_ = true;
  rebuilt_ = true;
  sortedView_.reset();
  entries_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, true);
  if (!archive_) return false;
  BufferedFileStream& in = *archive_;
  const int64_t size = in.Size();
  if (size < 0) return false;

  // Find the first local header signature with a plausible version needed to extract.
  int64_t scan = SameTextAscii(ExtensionOf(zipName_), ".exe") ? 14000 : 0;
  int64_t found = -1;
  constexpr int64_t kChunk = 10240;
  std::vector<uint8_t> chunk(kChunk);
  while (found < 0 && scan + 6 <= size) {
    ProcessMessages();
    if (!in.Seek(scan)) break;
    const int64_t got = in.Read(chunk.data(), kChunk);
    if (got < 6) break;
    for (int64_t j = 0; j + 6 <= got; ++j) {
      const uint8_t* p = chunk.data() + j;
      if (p[0] == 'P' && p[1] == 'K' && p[2] == 3 && p[3] == 4 && p[5] < 10) {
        found = scan + j;
        break;
      }
    }
    scan += got - 5;  // a signature may straddle two chunks
  }
  if (found < 0) return false;

  in.Seek(found);
  uint64_t count = 0;
  for (;;) {
    auto entry = std::make_unique<ZipHeaderInfo>(oemConvert_);
    if (!entry->ReadLocalHeader(in)) break;
    // Step over the data (and a data descriptor); never past the end of the file.
    uint64_t skip = entry->LocalExtraLength() + entry->CompressedSize();
    if ((entry->Flag() & kFlagDataDescriptor) != 0) skip += 16;
    const uint64_t here = static_cast<uint64_t>(in.Position());
    const uint64_t next = skip > static_cast<uint64_t>(size) - std::min(here, static_cast<uint64_t>(size))
                              ? static_cast<uint64_t>(size)
                              : here + skip;
    try {
      entries_->Add(std::move(entry));
      ++count;
    } catch (const EListError&) {
      break;
    }
    in.Seek(static_cast<int64_t>(next));
    if (count % 64 == 0) ProcessMessages();
  }

  endCentral_.ResetEndRecord();
  endCentral_.SetThisDisk(0);
  endCentral_.SetCentralOffset(static_cast<uint64_t>(in.Position()));
  endCentral_.SetTotalEntries(count);
  endCentral_.SetEntriesThisDisk(count);
  return true;
}

// --- Messages ---------------------------------------------------------------------------------

void ZipReader::ProcessMessages() {
  const bool canRun = doProcessMessages_ && static_cast<bool>(OnProcessMessages);
  if (canRun) OnProcessMessages();
  if (cancel_) {
    cancel_ = false;
    throw EUserCanceled("User Aborted Operation");
  }
  // Only a message handler can lift a pause on this thread; without one, waiting would hang.
  while (pause_ && canRun) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    OnProcessMessages();
    if (cancel_) {
      cancel_ = false;
      throw EUserCanceled("User Aborted Operation");
    }
  }
}

MessageResult ZipReader::HandleMessage(int messageId, const std::string& text,
                                       const std::string& caption, MessageButtons buttons,
                                       MessageResult defaultResult) {
  if (OnHandleMessage) return OnHandleMessage(messageId, text, caption, buttons);
  return defaultResult;
}

}  // namespace kvelv
