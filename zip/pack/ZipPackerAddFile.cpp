// Packing one list item: a folder entry or a file, its local header written before and again
// after its data.
#include <algorithm>
#include <memory>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "zip/common/DosDateTime.h"
#include "zip/codec/EntryData.h"
#include "zip/pack/FileListExpander.h"
#include "zip/pack/PackedLocalHeader.h"
#include "zip/common/ZipText.h"
#include "zip/codec/ParallelDeflate.h"
#include "zip/pack/SourceFile.h"
#include "zip/common/WildcardMatch.h"
#include "zip/ZipExceptions.h"
#include "zip/pack/ZipPacker.h"

namespace kvelv {

namespace {

bool IsFolderItem(const std::string& item) {
  return !item.empty() && (item.back() == '/' || item.back() == platform::kSeparator);
}

std::string ToEntrySeparators(std::string text) {
  for (char& c : text) {
    if (c == '/') c = kEntrySeparator;
  }
  return text;
}

uint16_t LevelFlags(int level) {
  if (level <= 2) return 0x0004;
  if (level >= 8) return 0x0002;
  return 0;
}

// Whole seconds since the Unix epoch of a stamp's time, rounded down.
int64_t UnixSeconds(const platform::FileStamp& stamp) {
  constexpr int64_t kNanos = 1000000000;
  return stamp.modified >= 0 ? stamp.modified / kNanos : -((-stamp.modified + kNanos - 1) / kNanos);
}

}  // namespace

std::string ZipPacker::StoredDirectoryFor(const std::string& path) const {
  if (!settings_.storePaths) return std::string();
  std::string folder = platform::FolderPart(path);
  if (folder.empty()) return std::string();
  folder += '/';
  const std::string& root = settings_.rootDir;
  if (settings_.relativePaths && !root.empty() && folder.compare(0, root.size(), root) == 0) {
    folder.erase(0, root.size());
  } else {
    // POSIX paths have no volume to keep (StoreVolumes), and an absolute folder stored as such
    // would extract outside the target folder.
    const size_t firstName = folder.find_first_not_of('/');
    folder.erase(0, firstName == std::string::npos ? folder.size() : firstName);
  }
  return ToEntrySeparators(NameBytesAsText(folder));
}

std::string ZipPacker::StoredNameFor(const std::string& item) const {
  if (IsFolderItem(item)) {
    // The folder itself is the stored directory; no file name.
    return StoredDirectoryFor(item.substr(0, item.size() - 1) + "/x");
  }
  return StoredDirectoryFor(item) + NameBytesAsText(platform::OpenedFileName(item));
}

void ZipPacker::SetStoredName(ZipHeaderInfo& entry, const std::string& item) const {
  if (IsFolderItem(item)) {
    std::string directory = StoredNameFor(item);
    if (!directory.empty()) entry.SetDirectory(directory);
    return;
  }
  std::string directory = StoredDirectoryFor(item);
  if (!directory.empty()) entry.SetDirectory(directory);
  // A POSIX name is bytes; one that is not UTF-8 is stored as the text it most likely means.
  entry.SetFileName(NameBytesAsText(platform::OpenedFileName(item)));
}

bool ZipPacker::OpenSource(const std::string& path, SourceFile& source) {
  for (;;) {
    std::error_code ec;
    if (source.Open(path, ec)) return true;
    bool retry = false;
    if (events_.skippingFile) events_.skippingFile(SkipReason::srFileOpenError, retry, -1, path);
    if (!retry) return false;
  }
}

bool ZipPacker::AddFolderEntry(const std::string& item) {
  auto entry = std::make_unique<ZipHeaderInfo>(settings_.oemConvert);
  auto info = platform::GetFileInfo(item.substr(0, item.size() - 1));
  entry->SetDateTime(DosDateTimeFromUnix(info ? info->lastWriteTime : platform::NowUnixSeconds()));
  entry->SetUncompressedSize(0);
  entry->SetCompressedSize(0);
  entry->SetCompressionMethod(kMethodStored);
  entry->SetInternalAttributes(0);
  entry->SetCrc32(0);
  if (info) entry->SetExternalAttributes(info->attributes);
  SetStoredName(*entry, item);
  entry->SetRelativeOffset(static_cast<uint64_t>(out_.Position()));
  entry->SetDiskNumberStart(0);

  int index = 0;
  if (byName_->Find(*entry, index)) {
    Skip(SkipReason::srNoOverwrite, item);
    return false;
  }
  if (events_.startZip) {
    bool skip = false;
    events_.startZip(item, skip);
    if (skip) {
      Skip(SkipReason::srSkippedInStartZip, item);
      return false;
    }
  }
  FinalBefore(out_.Position());
  WritePackedLocalHeader(out_, *entry, false);
  if (events_.endZip) events_.endZip(item, 0, 0);
  entry_ = std::move(entry);
  return true;
}

bool ZipPacker::StoresItem(const std::string& item) const {
  if (settings_.packLevel == 0) return true;
  const std::string name = platform::FileNamePart(item);
  for (const auto& pattern : settings_.noCompressList) {
    if (!pattern.empty() && FileNameMatches(name, pattern)) return true;
  }
  return false;
}

void ZipPacker::StartPrefetch() {
  if (HardwareThreads() < 2) return;  // one core gains nothing from working ahead
  // OnStartZip runs after a file was opened and before it is read; a file read ahead would not
  // show what the hook did to it.
  if (events_.startZip) return;
  std::vector<bool> wanted(items_.size(), false);
  size_t count = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    wanted[i] = !itemDone_[i] && !IsFolderItem(items_[i]) && !StoresItem(items_[i]);
    if (wanted[i]) ++count;
  }
  if (count < 2) return;
  prefetch_ = std::make_unique<DeflateAhead>(items_, std::move(wanted), settings_.packLevel);
}

bool ZipPacker::AddFile(const std::string& item, size_t index) {
  if (IsFolderItem(item)) return AddFolderEntry(item);

  // Only regular files: a folder named without its trailing separator counts as missing, and a
  // fifo or device would block or never end.
  std::optional<platform::FileInfo> info;
  if (platform::FileExists(item)) info = platform::GetFileInfo(item);
  if (!info) {
    if (events_.noSuchFile) events_.noSuchFile(item);
    return false;
  }
  // Data a worker prepared from the file as it still is needs no opening and reading here.
  std::optional<DeflatedEntry> prepared;
  if (prefetch_ && index != SIZE_MAX) {
    if (const auto now = platform::StampOf(item)) prepared = prefetch_->Take(index, *now);
  }
  SourceFile source;
  if (!prepared && !OpenSource(item, source)) return false;
  // What is packed is the file as it was when opened: its length then, its time then.
  const platform::FileStamp& atOpen = prepared ? prepared->stamp : source.AtOpen();
  const int64_t sizeAtOpen = atOpen.size;

  auto entry = std::make_unique<ZipHeaderInfo>(settings_.oemConvert);
  entry->SetExternalAttributes(info->attributes);
  entry->SetDateTime(DosDateTimeFromUnix(UnixSeconds(atOpen)));
  entry->SetUncompressedSize(prepared ? static_cast<uint64_t>(sizeAtOpen) : source.BytesRead());
  SetStoredName(*entry, item);
  entry->SetInternalAttributes(0);
  entry->SetDiskNumberStart(0);
  entry->SetRelativeOffset(static_cast<uint64_t>(out_.Position()));
  if (!Admits(*entry, item, sizeAtOpen)) return false;
  WriteFileEntry(*entry, item, source, prepared, sizeAtOpen);

  // POSIX keeps no archive attribute, so ResetArchiveBitOnZip has nothing to clear.
  if (events_.endZip) events_.endZip(item, entry->UncompressedSize(), entry->CompressedSize());
  entry_ = std::move(entry);
  return true;
}

bool ZipPacker::Admits(const ZipHeaderInfo& entry, const std::string& item, int64_t sizeAtOpen) {
  int found = 0;
  if (byName_->Find(entry, found)) {
    Skip(SkipReason::srNoOverwrite, item);
    totalBytes_ -= sizeAtOpen;
    return false;
  }
  if (events_.startZip) {
    bool skip = false;
    events_.startZip(item, skip);
    if (skip) {
      Skip(SkipReason::srSkippedInStartZip, item);
      return false;
    }
  }
  return true;
}

void ZipPacker::WriteFileEntry(ZipHeaderInfo& entry, const std::string& item, SourceFile& source,
                               const std::optional<DeflatedEntry>& prepared, int64_t sizeAtOpen) {
  // Zip64 for the sizes is decided here, once, and holds for both header writes.
  const bool reserve = NeedsZip64Reserve(static_cast<uint64_t>(sizeAtOpen));
  const uint64_t readLimit = reserve ? UINT64_MAX : MaxBytesWithoutZip64Reserve();
  entry.SetCompressionMethod(kMethodDeflated);
  entry.SetCrc32(0xFFFFFFFF);
  entry.SetCompressedSize(0);
  // What comes before this entry is final: only its own header is still rewritten.
  FinalBefore(out_.Position());
  const int64_t headerLength = WritePackedLocalHeader(out_, entry, reserve);
  const uint64_t offset = entry.RelativeOffset();
  const int64_t dataStart = out_.Position();

  SourceReader read = [&](uint8_t* buffer, size_t max) -> size_t {
    const uint64_t room = std::min<uint64_t>({max, readLimit - source.BytesRead(), kSourceReadSlice});
    const size_t got = source.Read(buffer, static_cast<size_t>(room));
    bytesDone_ += static_cast<int64_t>(got);
    Progress(item);  // between chunks, not only between files: a cancel request raises here
    return got;
  };
  ArchiveWriter write = [this](const uint8_t* data, size_t count) { WriteArchiveBytes(data, count); };

  if (prepared) {
    WriteArchiveBytes(prepared->deflated.data(), prepared->deflated.size());
    bytesDone_ += sizeAtOpen;
    Progress(item);
  } else if (StoresItem(item)) {
    StoreEntryData(read, write);
    entry.SetCompressionMethod(kMethodStored);
  } else {
    // Large files are deflated on every core; one chunk or less stays a single stream.
    deflater_.Deflate(settings_.packLevel, read, write);
  }
  if (!prepared) {
    // A file that changed while it was read fails the pass: the entry would hold a content the
    // file never had.
    source.Finish();
    source.Close();
  }

  const int64_t dataEnd = out_.Position();
  entry.SetUncompressedSize(prepared ? static_cast<uint64_t>(sizeAtOpen) : source.BytesRead());
  entry.SetCompressedSize(static_cast<uint64_t>(dataEnd - dataStart));
  entry.SetCrc32(prepared ? prepared->crc : source.Crc());
  entry.SetFlag(static_cast<uint16_t>(entry.Flag() | LevelFlags(settings_.packLevel)));

  // The header goes back in place with the final values; it has the same length as before.
  if (!out_.Seek(static_cast<int64_t>(offset))) throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
  const int64_t rewritten = WritePackedLocalHeader(out_, entry, reserve);
  if (rewritten != headerLength) throw EZipException("Local header changed length: " + item);
  if (!out_.Seek(dataEnd)) throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
}

void ZipPacker::WriteArchiveBytes(const uint8_t* data, size_t count) {
  if (out_.Write(data, static_cast<int64_t>(count)) != static_cast<int64_t>(count)) {
    throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
  }
  bytesWritten_ += static_cast<int64_t>(count);
  ProcessMessages();
}

}  // namespace kvelv
