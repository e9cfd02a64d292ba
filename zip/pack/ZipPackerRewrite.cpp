// Rewriting an archive that exists already: its entries are carried over or replaced by list
// items (ZipAction) into a temporary file, which then takes the archive's place.
#include <vector>

#include "platform/FileSystem.h"
#include "zip/common/DosDateTime.h"
#include "zip/common/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/common/ZipText.h"
#include "zip/pack/ZipPacker.h"

namespace kvelv {

namespace {

constexpr int64_t kCopyBlock = 65536;

[[noreturn]] void ThrowBadArchive() { throw EBadZipFile(zip_text::kNotAZip); }

}  // namespace

void ZipPacker::LoadOldNames() {
  int index = 0;
  for (const ZipHeaderInfo* old : old_->entries) oldNames_.emplace(LowerAscii(old->FullName()), index++);
  // The reader leaves the archive comment on disk; the rewritten archive keeps it.
  const EndRecord& end = old_->end;
  if (end.CommentLength() != 0) {
    std::string comment(end.CommentLength(), '\0');
    if (old_->stream.Seek(end.CommentPosition()) &&
        old_->stream.ReadExact(comment.data(), static_cast<int64_t>(comment.size()))) {
      oldComment_ = std::move(comment);
    }
  }
}

bool ZipPacker::FileIsNewer(const std::string& item, const ZipHeaderInfo& old) const {
  std::string path = item;
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  auto info = platform::GetFileInfo(path);
  if (!info) return false;
  // Compared in DOS form: a file packed before and unchanged since is not newer than its entry.
  return NormalizeDosDateTime(DosDateTimeFromUnix(info->lastWriteTime)) > old.DateTime();
}

void ZipPacker::CopyOldEntries() {
  std::unordered_map<std::string, size_t> itemByName;
  for (size_t i = 0; i < items_.size(); ++i) {
    itemByName.emplace(LowerAscii(StoredNameFor(items_[i])), i);
  }
  // The reader's list is replaced at the end of the pass; until then it is only read.
  for (const ZipHeaderInfo* old : old_->entries) {
    auto match = itemByName.find(LowerAscii(old->FullName()));
    if (match != itemByName.end() && !itemDone_[match->second]) {
      const size_t i = match->second;
      itemDone_[i] = true;
      const bool replace = settings_.zipAction == kvelv::ZipAction::zaReplace || FileIsNewer(items_[i], *old);
      // An item that cannot be packed after all leaves the old entry in place.
      if (replace && AddFile(items_[i])) {
        Adopt(std::move(entry_), false);
        ++count_;
        if (settings_.dispose) disposeList_.push_back(items_[i]);
        continue;
      }
    }
    CopyOldEntry(*old);
  }
}

void ZipPacker::CopyOldEntry(const ZipHeaderInfo& old) {
  BufferedFileStream& in = old_->stream;
  uint8_t header[kLocalHeaderSize];
  if (!in.Seek(static_cast<int64_t>(old.RelativeOffset())) || !in.ReadExact(header, kLocalHeaderSize) ||
      GetU32(header) != kLocalHeaderSignature) {
    ThrowBadArchive();
  }
  const int64_t newOffset = out_.Position();
  WriteArchiveBytes(header, kLocalHeaderSize);

  int64_t remaining = GetU16(header + 26) + GetU16(header + 28) + static_cast<int64_t>(old.CompressedSize());
  std::vector<uint8_t> block(kCopyBlock);
  auto copy = [&](int64_t count) {
    while (count > 0) {
      const int64_t chunk = count < kCopyBlock ? count : kCopyBlock;
      if (!in.ReadExact(block.data(), chunk)) ThrowBadArchive();
      WriteArchiveBytes(block.data(), static_cast<size_t>(chunk));
      count -= chunk;
    }
  };
  copy(remaining);
  if ((old.Flag() & kFlagDataDescriptor) != 0) {
    // The descriptor travels with its data: crc and both sizes, 8-byte sizes for Zip64 entries,
    // with or without its signature.
    const bool wide = old.UncompressedSizeField() == 0xFFFFFFFF || old.CompressedSizeField() == 0xFFFFFFFF;
    uint8_t signature[4];
    const int64_t at = in.Position();
    if (!in.ReadExact(signature, 4) || !in.Seek(at)) ThrowBadArchive();
    remaining = (GetU32(signature) == kDataDescriptorSignature ? 4 : 0) + 4 + (wide ? 16 : 8);
    copy(remaining);
  }

  auto entry = std::make_unique<ZipHeaderInfo>(old);
  entry->SetRelativeOffset(static_cast<uint64_t>(newOffset));
  Adopt(std::move(entry), true);
}

void ZipPacker::MoveOutputToArchive() {
  const std::string& target = settings_.zipName;
  old_->close();
  // Same file system: one atomic rename replaces the archive.
  if (platform::RenameFile(outPath_, target)) {
    outCreated_ = false;
    return;
  }
  // Else copy next to the archive first, so the archive is replaced only by a complete file.
  const std::string staging = target + "$$$";
  auto fail = [&] {
    platform::DeleteFile(staging);
    throw EZipException("Cannot move file \"" + outPath_ + "\" to \"" + target + "\"");
  };
  BufferedFileStream from(kStreamBufferSize), to(kStreamBufferSize);
  std::error_code ec;
  if (!from.Open(outPath_, platform::OpenMode::ReadDenyWrite, ec)) fail();
  if (!to.Open(staging, platform::OpenMode::CreateAlways, ec)) fail();
  std::vector<uint8_t> block(kCopyBlock);
  int64_t copied = 0;
  for (;;) {
    const int64_t got = from.Read(block.data(), kCopyBlock);
    if (got <= 0) break;
    if (to.Write(block.data(), got) != got) {
      to.Close();
      fail();
    }
    copied += got;
  }
  const int64_t expected = from.Size();
  from.Close();
  if (!to.Close() || copied != expected) fail();
  if (!platform::RenameFile(staging, target)) fail();
  platform::DeleteFile(outPath_);
  outCreated_ = false;
}

}  // namespace kvelv
