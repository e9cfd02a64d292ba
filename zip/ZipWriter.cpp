#include "zip/ZipWriter.h"

#include <algorithm>
#include <optional>

#include "platform/FileSystem.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipPacker.h"

namespace kvelv {

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

ZipWriter::ZipWriter() = default;
ZipWriter::~ZipWriter() = default;

void ZipWriter::SetPackLevel(int level) { pack_.packLevel = std::clamp(level, 0, 9); }

void ZipWriter::SetSearchBit(uint32_t bit, bool on) {
  pack_.searchAttributes = on ? (pack_.searchAttributes | bit) : (pack_.searchAttributes & ~bit);
}

int ZipWriter::Pack() {
  PackSettings settings = pack_;
  settings.zipName = zipName_;
  settings.filesList = filesList_;
  settings.rootDir = rootDir_;
  settings.oemConvert = oemConvert_;
  PackEvents events;
  events.startZipInfo = OnStartZipInfo;
  events.startZip = OnStartZip;
  events.endZip = OnEndZip;
  events.noSuchFile = OnNoSuchFile;
  events.skippingFile = OnSkippingFile;
  events.recursingFile = OnRecursingFile;
  events.disposeFile = OnDisposeFile;
  events.processMessages = [this] { ProcessMessages(); };
  events.progress = OnProgress;
  events.handleMessage = [this](int id, const std::string& text, const std::string& caption, MessageButtons buttons,
                                MessageResult defaultResult) {
    return HandleMessage(id, text, caption, buttons, defaultResult);
  };

  std::optional<OldArchive> old;
  if (settings.transform != nullptr && platform::GetFileInfo(zipName_)) {
    // Its bytes could not be read back, and rewriting them would lay the keystream twice over
    // the same positions of two files.
    throw EFCreateError("Cannot create file \"" + zipName_ + "\". It exists already");
  }
  if (platform::FileExists(zipName_)) {
    // An existing file that is no readable archive raises here and stays untouched.
    OpenArchive();
    if (!entries_) entries_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);
    old.emplace(OldArchive{*entries_, *archive_, endCentral_, [this] { CloseArchive(); }});
  }
  PackResult result = ZipPacker(settings, events, old ? &*old : nullptr).Run();

  // The archive just written becomes the object's directory.
  sortedView_.reset();
  entries_ = std::move(result.entries);
  endCentral_ = result.end;
  if (result.carriedOver) {
    // Carried-over entries still point at their extra fields in the old file: the next
    // operation must load the directory afresh.
    stampValid_ = false;
  } else {
    RememberArchiveStamp();
  }
  return result.count;
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
      count = Pack();
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

}  // namespace kvelv
