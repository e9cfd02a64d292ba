// The packing engine: expanding the items, creating the output, adding the files, the central
// directory and the end records, and the move over an archive that is rewritten.
#include "zip/pack/ZipPacker.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "zip/pack/FileListExpander.h"
#include "zip/ZipExceptions.h"
#include "zip/common/ZipText.h"

namespace kvelv {

namespace {

std::string FullPath(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

[[noreturn]] void ThrowCreateError(const std::string& path, const std::error_code& ec) {
  throw EFCreateError("Cannot create file \"" + FullPath(path) + "\". " + ec.message());
}

}  // namespace

// The archive is written through a larger buffer than the reader's: a small entry's local header,
// finished after its data, is then still in the buffer and is rewritten there.
constexpr size_t kArchiveWriteBuffer = size_t{256} << 10;

ZipPacker::ZipPacker(const PackSettings& settings, const PackEvents& events, const OldArchive* old)
    : settings_(settings), events_(events), old_(old), out_(kArchiveWriteBuffer) {
  // A large file's chunks take a while each: a cancel request is also seen while waiting for one.
  deflater_.SetCheckWhileWaiting([this] { ProcessMessages(); });
}

ZipPacker::~ZipPacker() {
  StopFollower();
  if (finished_ || !outCreated_) return;
  out_.Close();
  platform::DeleteFile(outPath_);
}

void ZipPacker::ProcessMessages() const {
  if (events_.processMessages) events_.processMessages();
}

void ZipPacker::Progress(const std::string& item) {
  if (events_.progress) events_.progress(PassProgress{item, bytesDone_, totalBytes_});
  ProcessMessages();
}

PackResult ZipPacker::Run() {
  const bool existing = old_ != nullptr;
  if (existing) LoadOldNames();
  ExpandItems(existing);
  if (!items_.empty() && events_.startZipInfo) {
    bool stop = false;
    events_.startZipInfo(static_cast<int>(items_.size()), totalBytes_, stop);
    if (stop) throw EUserCanceled("User canceled Zip operation");
  }
  CreateOutput(existing);
  if (existing) CopyOldEntries();
  AddItems();
  WriteCentralDirectory();
  StopFollower();
  CloseOutput();
  if (temporary_) MoveOutputToArchive();
  finished_ = true;
  Dispose();

  PackResult result;
  result.entries = std::move(byNone_);
  result.end = end_;
  result.count = count_;
  result.carriedOver = !copied_.empty();
  return result;
}

void ZipPacker::ExpandItems(bool existing) {
  if (settings_.filesList.empty()) return;
  ExpandOptions options;
  options.rootDir = settings_.rootDir;
  options.recurse = settings_.recurse;
  options.expandWildcards = settings_.expandWildcards;
  options.addDirEntriesOnRecurse = settings_.addDirEntriesOnRecurse;
  options.searchAttributes = settings_.searchAttributes;
  options.excludeList = settings_.excludeList;
  options.archivePath = settings_.zipName;
  options.skipIfArchiveBitNotSet = settings_.skipIfArchiveBitNotSet;
  if (settings_.zipAction == kvelv::ZipAction::zaFreshen) {
    // Without an archive there is nothing to freshen: every item drops out.
    options.hasEntryToFreshen = [this, existing](const std::string& path) {
      return existing && oldNames_.count(LowerAscii(StoredNameFor(path))) != 0;
    };
  }
  options.onNoSuchFile = [this](const std::string& item) {
    if (events_.noSuchFile) events_.noSuchFile(item);
  };
  options.onSkippingFile = [this](const std::string& path, ExpandSkip why) {
    switch (why) {
      case ExpandSkip::kExcludeList: Skip(SkipReason::srExcludeList, path); break;
      case ExpandSkip::kArchiveBitNotSet: Skip(SkipReason::srArchiveBitNotSet, path); break;
      case ExpandSkip::kNoFileToFreshen: Skip(SkipReason::srNoFileToFreshen, path); break;
    }
  };
  options.onRecursingFile = [this](const std::string& path) {
    if (events_.recursingFile) events_.recursingFile(path);
  };
  options.checkCancel = [this] { ProcessMessages(); };
  ExpandedList expanded = ExpandFileList(settings_.filesList, options);
  items_ = std::move(expanded.paths);
  itemDone_.assign(items_.size(), false);
  totalBytes_ = expanded.totalBytes;
}

void ZipPacker::CreateOutput(bool existing) {
  std::error_code ec;
  if (!existing) {
    // No file has that name (checked above); creating it new means a file or link that appears
    // there meanwhile, in a shared temporary folder say, is never opened and written through.
    outPath_ = settings_.zipName;
    if (!out_.Open(outPath_, platform::OpenMode::CreateNew, ec)) ThrowCreateError(outPath_, ec);
    out_.SetTransform(settings_.transform);
    if (settings_.follower != nullptr) {
      follower_ = settings_.follower.get();
      follower_->Begin(out_.WrittenBytes());
    }
  } else {
    std::string folder = settings_.tempPath;
    if (folder.empty() || !platform::FolderExists(folder)) folder = platform::TempFolder();
    if (folder.back() != platform::kSeparator) folder += platform::kSeparator;
    // A name of our own making: create it new, and pick another on a clash.
    for (int attempt = 0;; ++attempt) {
      outPath_ = platform::UniqueName(folder, ".zip");
      if (out_.Open(outPath_, platform::OpenMode::CreateNew, ec)) break;
      if (ec != std::errc::file_exists || attempt == 100) ThrowCreateError(outPath_, ec);
    }
    temporary_ = true;
  }
  outCreated_ = true;

  byName_ = std::make_unique<EntryList>(ZipSortMode::ByName, DuplicatePolicy::Refuse, EntryOwnership::Views);
  byNone_ = std::make_unique<EntryList>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);
  const int capacity = static_cast<int>(items_.size()) + (old_ != nullptr ? old_->entries.Count() : 0);
  byName_->Reserve(capacity);
  byNone_->Reserve(capacity);
  end_.ResetEndRecord();
  if (existing && !oldComment_.empty()) end_.SetComment(oldComment_);
}

void ZipPacker::Adopt(std::unique_ptr<ZipHeaderInfo> entry, bool fromOldArchive) {
  ZipHeaderInfo* raw = entry.get();
  // The archive-order list owns the entry; the name list only points at it. Offsets are unique,
  // so the first addition cannot refuse; a refused name (two equal names in an old archive)
  // only means the name list misses it.
  byNone_->Add(std::move(entry));
  try {
    byName_->Add(raw);
  } catch (const EListError&) {
  }
  if (fromOldArchive) copied_.insert(raw);
  end_.SetTotalEntries(end_.TotalEntries() + 1);
}

void ZipPacker::AddItems() {
  StartPrefetch();
  for (size_t i = 0; i < items_.size(); ++i) {
    if (itemDone_[i]) continue;
    if (!AddFile(items_[i], i)) continue;
    Adopt(std::move(entry_), false);
    ++count_;
    if (settings_.dispose) disposeList_.push_back(items_[i]);
  }
  prefetch_.reset();
}

void ZipPacker::FinalBefore(int64_t end) {
  if (follower_ != nullptr) follower_->Final(std::min(end, out_.FileHoldsBefore()));
}

void ZipPacker::StopFollower() {
  if (follower_ == nullptr) return;
  follower_->Stop();
  follower_ = nullptr;
}

void ZipPacker::WriteCentralDirectory() {
  const int64_t start = out_.Position();
  FinalBefore(start);
  end_.SetCentralOffset(static_cast<uint64_t>(start));
  end_.SetCentralDisk(0);
  uint64_t onThisDisk = 0;
  for (ZipHeaderInfo* entry : *byNone_) {
    entry->WriteCentralHeader(out_, copied_.count(entry) != 0 ? &old_->stream : nullptr);
    ++onThisDisk;
  }
  end_.SetEntriesThisDisk(onThisDisk);
  end_.SetCentralSize(static_cast<uint64_t>(out_.Position() - start));
  end_.SetThisDisk(0);
  end_.WriteEndRecords(out_);
}

void ZipPacker::CloseOutput() {
  // Bytes still in the buffer are written here: a failure now is a short write like any other.
  if (!out_.Close()) throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
}

void ZipPacker::Dispose() {
  for (const auto& path : disposeList_) {
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) continue;  // folder entries
    bool veto = false;
    if (events_.disposeFile) events_.disposeFile(path, veto);
    if (!veto) platform::DeleteFile(path);
  }
}

void ZipPacker::Skip(SkipReason reason, const std::string& path) {
  if (!events_.skippingFile) return;
  bool retry = false;
  events_.skippingFile(reason, retry, -1, path);
}

}  // namespace kvelv
