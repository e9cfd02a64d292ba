#include "zip/ZipWriter.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "zip/FileListExpander.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipText.h"
#include "zip/ZipWriterPass.h"

namespace kvelv {

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string FullPath(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

[[noreturn]] void ThrowCreateError(const std::string& path, const std::error_code& ec) {
  throw EFCreateError("Cannot create file \"" + FullPath(path) + "\". " + ec.message());
}

}  // namespace

ZipWriter::ZipWriter() = default;
ZipWriter::~ZipWriter() = default;

void ZipWriter::SetPackLevel(int level) { packLevel_ = std::clamp(level, 0, 9); }

void ZipWriter::SetSearchBit(uint32_t bit, bool on) {
  searchAttributes_ = on ? (searchAttributes_ | bit) : (searchAttributes_ & ~bit);
}

int ZipWriter::PackFiles() {
  FlagGuard busy(busy_, true);
  cancel_ = false;
  int count = 0;
  if (!Trimmed(zipName_).empty()) {
    const ZipSortMode savedSort = sortMode_;
    const bool savedKeep = keepZipOpen_;
    keepZipOpen_ = true;
    sortMode_ = ZipSortMode::ByNone;
    auto restore = [&] {
      sortMode_ = savedSort;
      keepZipOpen_ = savedKeep;
      if (!keepZipOpen_) CloseArchive();
      filesList_.clear();
    };
    try {
      Pass pass(*this);
      count = pass.Run();
    } catch (...) {
      restore();
      throw;
    }
    restore();
    BuildSortedView();
    if (OnTotalPercentDone) OnTotalPercentDone(100);
  }
  filesList_.clear();
  if (OnZipComplete) OnZipComplete(count);
  return count;
}

// --- The pass -----------------------------------------------------------------------------------

// The archive is written through a larger buffer than the reader's: a small entry's local header,
// finished after its data, is then still in the buffer and is rewritten there.
constexpr size_t kArchiveWriteBuffer = size_t{256} << 10;

ZipWriter::Pass::Pass(ZipWriter& writer) : w_(writer), out_(kArchiveWriteBuffer) {}

ZipWriter::Pass::~Pass() {
  if (finished_ || !outCreated_) return;
  out_.Close();
  platform::DeleteFile(outPath_);
}

int ZipWriter::Pass::Run() {
  const bool existing = platform::FileExists(w_.zipName_);
  if (existing) {
    // An existing file that is no readable archive raises here and stays untouched.
    w_.OpenArchive();
    LoadOldNames();
  }
  ExpandItems(existing);
  if (!items_.empty() && w_.OnStartZipInfo) {
    bool stop = false;
    w_.OnStartZipInfo(static_cast<int>(items_.size()), totalBytes_, stop);
    if (stop) throw EUserCanceled("User canceled Zip operation");
  }
  CreateOutput(existing);
  if (existing) CopyOldEntries();
  AddItems();
  WriteCentralDirectory();
  CloseOutput();
  if (temporary_) MoveOutputToArchive();
  finished_ = true;
  Dispose();

  // The archive just written becomes the object's directory.
  w_.sortedView_.reset();
  w_.entries_ = std::move(byNone_);
  w_.endCentral_ = end_;
  if (copied_.empty()) {
    w_.RememberArchiveStamp();
  } else {
    // Carried-over entries still point at their extra fields in the old file: the next
    // operation must load the directory afresh.
    w_.stampValid_ = false;
  }
  return count_;
}

void ZipWriter::Pass::ExpandItems(bool existing) {
  if (w_.filesList_.empty()) return;
  ExpandOptions options;
  options.rootDir = w_.rootDir_;
  options.recurse = w_.recurse_;
  options.expandWildcards = w_.expandWildcards_;
  options.addDirEntriesOnRecurse = w_.addDirEntriesOnRecurse_;
  options.searchAttributes = w_.searchAttributes_;
  options.excludeList = w_.excludeList_;
  options.archivePath = w_.zipName_;
  options.skipIfArchiveBitNotSet = w_.skipIfArchiveBitNotSet_;
  if (w_.zipAction_ == kvelv::ZipAction::zaFreshen) {
    // Without an archive there is nothing to freshen: every item drops out.
    options.hasEntryToFreshen = [this, existing](const std::string& path) {
      return existing && oldNames_.count(LowerAscii(StoredNameFor(path))) != 0;
    };
  }
  options.onNoSuchFile = [this](const std::string& item) {
    if (w_.OnNoSuchFile) w_.OnNoSuchFile(item);
  };
  options.onSkippingFile = [this](const std::string& path, ExpandSkip why) {
    switch (why) {
      case ExpandSkip::kExcludeList: Skip(SkipReason::srExcludeList, path); break;
      case ExpandSkip::kArchiveBitNotSet: Skip(SkipReason::srArchiveBitNotSet, path); break;
      case ExpandSkip::kNoFileToFreshen: Skip(SkipReason::srNoFileToFreshen, path); break;
    }
  };
  options.onRecursingFile = [this](const std::string& path) {
    if (w_.OnRecursingFile) w_.OnRecursingFile(path);
  };
  options.checkCancel = [this] { w_.ProcessMessages(); };
  ExpandedList expanded = ExpandFileList(w_.filesList_, options);
  items_ = std::move(expanded.paths);
  itemDone_.assign(items_.size(), false);
  totalBytes_ = expanded.totalBytes;
}

void ZipWriter::Pass::CreateOutput(bool existing) {
  std::error_code ec;
  if (!existing) {
    // No file has that name (checked above); creating it new means a file or link that appears
    // there meanwhile, in a shared temporary folder say, is never opened and written through.
    outPath_ = w_.zipName_;
    if (!out_.Open(outPath_, platform::OpenMode::CreateNew, ec)) ThrowCreateError(outPath_, ec);
  } else {
    std::string folder = w_.tempPath_;
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

  byName_ = std::make_unique<SortedZip>(ZipSortMode::ByName, DuplicatePolicy::Refuse, false);
  byNone_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, true);
  const int capacity = static_cast<int>(items_.size()) + w_.EntryCount();
  byName_->Reserve(capacity);
  byNone_->Reserve(capacity);
  end_.ResetEndRecord();
  if (existing && !oldComment_.empty()) end_.SetComment(oldComment_);
}

void ZipWriter::Pass::Adopt(std::unique_ptr<ZipHeaderInfo> entry, bool fromOldArchive) {
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

void ZipWriter::Pass::AddItems() {
  StartPrefetch();
  for (size_t i = 0; i < items_.size(); ++i) {
    if (itemDone_[i]) continue;
    if (!AddFile(items_[i], i)) continue;
    Adopt(std::move(entry_), false);
    ++count_;
    if (w_.dispose_) disposeList_.push_back(items_[i]);
  }
  prefetch_.reset();
}

void ZipWriter::Pass::WriteCentralDirectory() {
  const int64_t start = out_.Position();
  end_.SetCentralOffset(static_cast<uint64_t>(start));
  end_.SetCentralDisk(0);
  uint64_t onThisDisk = 0;
  for (ZipHeaderInfo* entry : *byNone_) {
    entry->WriteCentralHeader(out_, copied_.count(entry) != 0 ? w_.archive_.get() : nullptr);
    ++onThisDisk;
  }
  end_.SetEntriesThisDisk(onThisDisk);
  end_.SetCentralSize(static_cast<uint64_t>(out_.Position() - start));
  end_.SetThisDisk(0);
  end_.WriteEndRecords(out_);
}

void ZipWriter::Pass::CloseOutput() {
  // Bytes still in the buffer are written here: a failure now is a short write like any other.
  if (!out_.Close()) throw ENotEnoughRoom(zip_text::kNotEnoughRoom);
}

void ZipWriter::Pass::Dispose() {
  for (const auto& path : disposeList_) {
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) continue;  // folder entries
    bool veto = false;
    if (w_.OnDisposeFile) w_.OnDisposeFile(path, veto);
    if (!veto) platform::DeleteFile(path);
  }
}

void ZipWriter::Pass::Skip(SkipReason reason, const std::string& path) {
  if (!w_.OnSkippingFile) return;
  bool retry = false;
  w_.OnSkippingFile(reason, retry, -1, path);
}

}  // namespace kvelv
