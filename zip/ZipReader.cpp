#include "zip/ZipReader.h"

#include <chrono>
#include <thread>

#include "platform/FileSystem.h"
#include "zip/DosDateTime.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

// The name without its extension (the extension starts at the last "." of the last component).
std::string WithoutExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path;
  return path.substr(0, dot);
}

}  // namespace

ZipReader::ZipReader() = default;

ZipReader::~ZipReader() { ResetArchive(); }

// --- Properties -------------------------------------------------------------------------------

void ZipReader::SetArchiveSource(std::shared_ptr<const ArchiveSource> source, const std::string& name) {
  zipName_ = name + '\0';  // differs from any name, so the reset below happens
  SetZipName(name);
  source_ = std::move(source);
}

void ZipReader::SetZipName(const std::string& value) {
  // Exact comparison: on a case-sensitive file system "A.zip" and "a.zip" are two archives.
  if (value == zipName_) return;
  zipName_ = value;
  source_.reset();
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
  source_.reset();
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
  auto view = std::make_unique<SortedZip>(sortMode_, DuplicatePolicy::Accept, EntryOwnership::Views);
  view->Assign(std::vector<ZipHeaderInfo*>(entries_->begin(), entries_->end()));
  sortedView_ = std::move(view);
}

// --- Opening ----------------------------------------------------------------------------------

bool ZipReader::ArchiveStamp(int64_t& time, int64_t& size) const {
  if (source_) {  // a source does not change while it is used
    time = 0;
    size = source_->Size();
    return size >= 0;
  }
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
    // Read through a source, so that workers decoding ahead can read it at the same time.
    std::shared_ptr<const ArchiveSource> source = source_;
    if (!source) {
      std::error_code ec;
      source = FileArchiveSource::Open(zipName_, ec);
      if (!source) throw EFOpenError("Cannot open file \"" + zipName_ + "\". " + ec.message());
    }
    auto stream = std::make_unique<BufferedFileStream>(StreamBufferSize);
    stream->OpenSource(std::move(source), zipName_);
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

// --- Extraction -------------------------------------------------------------------------------

ExtractSettings ZipReader::PassSettings() const {
  ExtractSettings settings;
  settings.destDir = destDir_;
  settings.recreateDirs = recreateDirs_;
  settings.relativePathList = relativePathList_;
  settings.overwriteMode = overwriteMode_;
  settings.retainAttributes = retainAttributes_;
  settings.replaceReadOnly = replaceReadOnly_;
  settings.flushFilesOnClose = flushFilesOnClose_;
  settings.doAll = doAll_;
  settings.filesList = filesList_;
  return settings;
}

ExtractEvents ZipReader::PassEvents() {
  ExtractEvents events;
  events.startUnZipInfo = OnStartUnZipInfo;
  events.startUnZip = OnStartUnZip;
  events.endUnZip = OnEndUnZip;
  events.unZipComplete = OnUnZipComplete;
  events.filePercentDone = OnFilePercentDone;
  events.totalPercentDone = OnTotalPercentDone;
  events.promptForOverwrite = OnPromptForOverwrite;
  events.skippingFile = OnSkippingFile;
  events.badPassword = OnBadPassword;
  events.badCrc = OnBadCRC;
  events.processMessages = [this] { ProcessMessages(); };
  events.progress = OnProgress;
  events.handleMessage = [this](int id, const std::string& text, const std::string& caption, MessageButtons buttons,
                                MessageResult defaultResult) {
    return HandleMessage(id, text, caption, buttons, defaultResult);
  };
  return events;
}

bool ZipReader::TestEntry(int index) {
  FlagGuard operating(operating_, true);
  struct CloseOnExit {
    ZipReader& r;
    ~CloseOnExit() { r.CloseArchive(); }
  } close{*this};
  OpenArchive();
  if (index >= 0) {
    ZipHeaderInfo& entry = EntryAt(index);
    if (entry.TestStatus() == 1) return true;
    if (entry.TestStatus() == 2) return false;
  }
  filesList_.clear();
  if (index >= 0) EntryAt(index).SetSelected(1);
  // The test pass takes every entry, folder entries too, wherever DestDir points.
  ExtractSettings settings = PassSettings();
  settings.recreateDirs = true;
  settings.destDir.clear();
  settings.filesList.clear();
  SortedZip none(ZipSortMode::ByNone, DuplicatePolicy::Accept, EntryOwnership::Views);
  SortedZip& list = View() != nullptr ? *View() : none;
  const int passed = ZipExtractor(*archive_, list, std::move(settings), PassEvents()).Test();
  if (passed == 0) return false;
  if (index < 0) return !doAll_ || passed == EntryCount();
  return EntryAt(index).TestStatus() == 1;
}

bool ZipReader::VerifyArchive() {
  FlagGuard doAll(doAll_, true);
  return TestEntry(-1);
}

int ZipReader::ExtractAll() { return StageAll().Commit(); }

StagedExtraction ZipReader::StageAll() {
  FlagGuard busy(busy_, true);
  FlagGuard operating(operating_, true);
  // The cancel request is cleared for the pass and after it, however it ends.
  cancel_ = false;
  struct ClearCancel {
    bool& cancel;
    ~ClearCancel() { cancel = false; }
  } clearCancel{cancel_};
  // Folder entries are only ever created with RecreateDirs; without it the list need not hold
  // them. The list loaded this way is not kept for later calls.
  FlagGuard leaveOut(leaveOutFolders_, !recreateDirs_);
  if (leaveOutFolders_) stampValid_ = false;
  struct Forget {
    ZipReader& r;
    bool partial;
    ~Forget() {
      if (partial) r.stampValid_ = false;
    }
  } forget{*this, leaveOutFolders_};
  ReadDirectory();
  FlagGuard keepOpen(keepZipOpen_, true);
  struct CloseOnExit {
    ZipReader& r;
    ~CloseOnExit() { r.CloseArchive(); }
  } close{*this};
  OpenArchive();
  SortedZip none(ZipSortMode::ByNone, DuplicatePolicy::Accept, EntryOwnership::Views);
  SortedZip& list = View() != nullptr ? *View() : none;
  StagedExtraction staged = ZipExtractor(*archive_, list, PassSettings(), PassEvents()).Stage();
  filesList_.clear();
  return staged;
}

// --- Messages ---------------------------------------------------------------------------------

void ZipReader::ProcessMessages() {
  const bool canRun = doProcessMessages_ && static_cast<bool>(OnProcessMessages);
  if (canRun) OnProcessMessages();
  if (cancel_) {
    cancel_ = false;
    throw EUserCanceled(zip_text::kUserAborted);
  }
  // Only a message handler can lift a pause on this thread; without one, waiting would hang.
  while (pause_ && canRun) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    OnProcessMessages();
    if (cancel_) {
      cancel_ = false;
      throw EUserCanceled(zip_text::kUserAborted);
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
