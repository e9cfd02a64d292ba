#include "zip/ZipExtractor.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/FileSystem.h"
#include "zip/DecodeAhead.h"
#include "zip/DosDateTime.h"
#include "zip/ExtractPaths.h"
#include "zip/ExtractStreams.h"
#include "zip/StagingFolder.h"
#include "zip/WildcardMatch.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr size_t kReplayBlock = 32768;

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// Adds a declared (untrusted) size to a running total without overflowing.
int64_t AddSize(int64_t total, uint64_t size) {
  const uint64_t room = static_cast<uint64_t>(INT64_MAX - std::max<int64_t>(total, 0));
  return size >= room ? INT64_MAX : total + static_cast<int64_t>(size);
}

int Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<uint64_t>(100, part * 100 / whole));
}

std::string JoinAll(std::string folder, const std::vector<std::string>& subfolders) {
  for (const std::string& sub : subfolders) folder = JoinOutputPath(folder, sub);
  return folder;
}

// The data of an entry is sound when all of it came out and its CRC matches (a stored CRC of 0
// accepts any content); an entry whose sizes could not be known never is.
bool Sound(const ZipHeaderInfo& entry, bool complete, uint32_t crc) {
  return complete && !entry.SizesUnknown() && (entry.Crc32() == 0 || crc == entry.Crc32());
}

}  // namespace

// --- ZipExtractor ----------------------------------------------------------------------------------

ZipExtractor::ZipExtractor(BufferedFileStream& archive, SortedZip& entries, ExtractSettings settings,
                           ExtractEvents events)
    : archive_(archive),
      entries_(entries),
      settings_(std::move(settings)),
      events_(std::move(events)) {}

ZipExtractor::~ZipExtractor() = default;

void ZipExtractor::ProcessMessages() {
  if (events_.processMessages) events_.processMessages();
}

MessageResult ZipExtractor::HandleMessage(int id, const std::string& text, const std::string& caption,
                                          MessageButtons buttons, MessageResult defaultResult) {
  return events_.handleMessage ? events_.handleMessage(id, text, caption, buttons, defaultResult) : defaultResult;
}

bool ZipExtractor::Select(ZipHeaderInfo& entry, Mode mode) const {
  // A folder entry stands for a folder, made only with RecreateDirs; an entry with no name at
  // all is taken, so that it is checked and reported.
  if (entry.FileName().empty() && !entry.Directory().empty() && !settings_.recreateDirs) return false;
  if (mode == Mode::Test && !settings_.doAll) {
    if (entry.Selected() == 0) return false;
    entry.SetSelected(0);
    return true;
  }
  if (settings_.doAll) return true;
  const std::string name = entry.Directory() + entry.FileName();
  return std::any_of(settings_.filesList.begin(), settings_.filesList.end(),
                     [&](const std::string& pattern) { return pattern == "*" || WildcardMatch(name, pattern); });
}

std::vector<int> ZipExtractor::SelectEntries(Mode mode) {
  totalSelected_ = 0;
  bytesWritten_ = 0;
  std::vector<int> selected;
  for (int i = 0; i < entries_.Count(); ++i) {
    ZipHeaderInfo& entry = entries_[i];
    const bool take = Select(entry, mode);
    entry.SetMatched(take ? 1 : 0);
    if (!take) continue;
    selected.push_back(i);
    totalSelected_ = AddSize(totalSelected_, entry.UncompressedSize());
  }
  if (events_.startUnZipInfo) {
    bool stop = false;
    events_.startUnZipInfo(static_cast<int>(selected.size()), stop, totalSelected_);
    if (stop) return {};
  }
  return selected;
}

// With several small entries to decode, workers decode them ahead while this thread handles the
// entries before them; when staging, they write the staged files too. What an entry decodes to
// depends only on the archive, which is not written while it is open.
void ZipExtractor::StartDecodeAhead(const std::vector<int>& selected, StagingFolder* staging) {
  if (HardwareThreads() < 2) return;
  std::vector<const ZipHeaderInfo*> ahead(static_cast<size_t>(entries_.Count()), nullptr);
  size_t count = 0;
  for (int index : selected) {
    if (!DecodeAhead::Suits(entries_[index])) continue;
    ahead[static_cast<size_t>(index)] = &entries_[index];
    ++count;
  }
  if (count < 2 || !archive_.Source()) return;
  AheadFiles files;
  if (staging != nullptr) {
    // The workers write the files too, except those only checked (a later entry has the path).
    files.staging = staging;
    files.retainAttributes = settings_.retainAttributes;
    files.flushOnClose = settings_.flushFilesOnClose;
    files.write.assign(ahead.size(), false);
    for (size_t i = 0; i < ahead.size(); ++i) files.write[i] = ahead[i] != nullptr && written_[i];
  }
  ahead_ = std::make_unique<DecodeAhead>(archive_.Source(), ahead, HardwareThreads(), std::move(files));
}

std::optional<std::vector<std::string>> ZipExtractor::EntryFolders(const ZipHeaderInfo& entry) const {
  if (!settings_.recreateDirs || entry.Directory().empty()) return std::vector<std::string>{};
  auto folders = SafeEntryFolders(entry.Directory(), settings_.relativePathList);
  if (!folders) return folders;
  for (std::string& folder : *folders) {
    folder = TargetName(folder, rules_);
    if (folder.empty()) return std::nullopt;
  }
  return folders;
}

void ZipExtractor::NameEntries(const std::vector<int>& selected) {
  std::vector<NamedEntry> named;
  std::vector<int> at;
  for (int index : selected) {
    const ZipHeaderInfo& entry = entries_[index];
    const auto folders = EntryFolders(entry);
    if ((entry.FileName().empty() && settings_.recreateDirs) || !folders) continue;
    named.push_back(NamedEntry{JoinAll({}, *folders), entry.FileName()});
    at.push_back(index);
  }
  const std::vector<NameDecision> decisions = NameTargets(named, rules_);
  names_.assign(static_cast<size_t>(entries_.Count()), NameDecision{});
  written_.assign(static_cast<size_t>(entries_.Count()), false);
  for (size_t i = 0; i < at.size(); ++i) {
    const auto index = static_cast<size_t>(at[i]);
    names_[index] = decisions[i];
    written_[index] = !decisions[i].superseded && !decisions[i].name.empty();
  }
}

std::optional<DecodedEntry> ZipExtractor::TakeAhead(int index) {
  if (!ahead_) return std::nullopt;
  return ahead_->Take(static_cast<size_t>(index));
}

void ZipExtractor::Unselect(const ZipHeaderInfo& entry) {
  const uint64_t size = std::min<uint64_t>(entry.UncompressedSize(), static_cast<uint64_t>(INT64_MAX));
  totalSelected_ = std::max<int64_t>(0, totalSelected_ - static_cast<int64_t>(size));
}

bool ZipExtractor::Skip(SkipReason reason, int index, const std::string& name) {
  Unselect(work_);
  bool retry = false;
  if (events_.skippingFile) events_.skippingFile(reason, retry, index, name);
  return retry;
}

bool ZipExtractor::MayReplace(int index, const ZipHeaderInfo& entry, const std::string& path,
                              const std::string& name) {
  switch (settings_.overwriteMode) {
    case UZOverwriteMode::Always:
      return true;
    case UZOverwriteMode::Never:
      return false;
    case UZOverwriteMode::Prompt: {
      bool replace = false;
      if (events_.promptForOverwrite) {
        events_.promptForOverwrite(replace, path, index);
        return replace;
      }
      return HandleMessage(0, CutText("Replace existing file " + name + "?", 300), "File Exists Alert",
                           MessageButtons::YesNo, MessageResult::No) == MessageResult::Yes;
    }
    case UZOverwriteMode::ifNewer:
    case UZOverwriteMode::ifOlder: {
      auto info = platform::GetFileInfo(path);
      if (!info) return true;
      const uint32_t existing = DosDateTimeFromUnix(info->lastWriteTime);
      const uint32_t stored = NormalizeDosDateTime(entry.DateTime());
      return settings_.overwriteMode == UZOverwriteMode::ifNewer ? stored > existing : stored < existing;
    }
  }
  return false;
}

bool ZipExtractor::CanDecode(int index, const ZipHeaderInfo& work, bool showMessages) {
  if (work.IsEncrypted()) {
    // No decryption here: a password a handler offers cannot help.
    if (events_.badPassword) {
      std::string offered;
      events_.badPassword(index, offered);
    }
    Skip(SkipReason::srBadPassword, index, work.FullName());
    return false;
  }
  if (work.SizesUnknown()) return false;  // where its data ends is not known: it cannot be checked
  if (!IsSupportedMethod(work.CompressionMethod())) {
    if (showMessages) {
      HandleMessage(0, "Unknown Compression Method", "Zip Error", MessageButtons::Ok, MessageResult::Ok);
    }
    return false;
  }
  return true;
}

ZipExtractor::Decoded ZipExtractor::Decode(const ZipHeaderInfo& work, BufferedFileStream* file,
                                           std::optional<DecodedEntry> decoded) {
  uint64_t entryDone = 0;
  EntryOutput output(file, work.UncompressedSize(), [&](size_t count) {
    entryDone += count;
    bytesWritten_ += static_cast<int64_t>(count);
    if (events_.filePercentDone) events_.filePercentDone(work.FileName(), Percent(entryDone, work.UncompressedSize()));
    if (events_.totalPercentDone) {
      events_.totalPercentDone(Percent(static_cast<uint64_t>(std::max<int64_t>(bytesWritten_, 0)),
                                       static_cast<uint64_t>(std::max<int64_t>(totalSelected_, 0))));
    }
    if (events_.progress) events_.progress(PassProgress{work.FileName(), bytesWritten_, totalSelected_});
    ProcessMessages();
  });
  Decoded result;
  try {
    if (decoded) {
      // What a worker decoded (and summed, and perhaps wrote) goes through the same output step,
      // then its ending is raised.
      const uint8_t* data = decoded->data.get();
      for (size_t at = 0; at < decoded->size; at += kReplayBlock) {
        output.WriteSummed(data != nullptr ? data + at : nullptr, std::min(kReplayBlock, decoded->size - at));
      }
      output.SetCrc(decoded->crc);
      if (decoded->error) std::rethrow_exception(decoded->error);
    } else {
      SeekToEntryData(archive_, work.RelativeOffset());
      EntryDataSource source(archive_, work.CompressedSize());
      decoder_.Decode(work.CompressionMethod(), work.Flag(), source, output, work.UncompressedSize());
    }
    result.complete = output.Written() == work.UncompressedSize();
  } catch (const EBiggerThanUncompressed&) {
    result.complete = false;  // more data than declared: the entry fails like a bad CRC
  }
  output.Finish();  // the CRC and the writes may still be running on the output's thread
  result.crc = output.Crc();
  return result;
}

int ZipExtractor::Test() {
  const std::vector<int> selected = SelectEntries(Mode::Test);
  StartDecodeAhead(selected);
  int passed = 0;
  for (int index : selected) {
    while (TestEntry(index, entries_[index])) {
    }
    if (entries_[index].TestStatus() == 1) ++passed;
  }
  ahead_.reset();
  if (events_.unZipComplete) events_.unZipComplete(passed);
  return passed;
}

bool ZipExtractor::TestEntry(int index, ZipHeaderInfo& entry) {
  work_ = entry;
  entry.SetTestStatus(2);
  ProcessMessages();
  if (!work_.FileName().empty()) {
    std::string path = work_.FileName();
    if (events_.startUnZip) {
      bool skip = false;
      events_.startUnZip(index, skip, path);
      if (skip) {
        Unselect(work_);
        return false;
      }
    }
    if (!CanDecode(index, work_, false)) return false;
    const Decoded decoded = Decode(work_, nullptr, TakeAhead(index));
    if (!Sound(work_, decoded.complete, decoded.crc)) {
      if (events_.badCrc) events_.badCrc(decoded.crc, index, work_.Crc32());
      return false;
    }
  }
  entry.SetTestStatus(1);  // a folder entry simply passes
  return false;
}

StagedExtraction ZipExtractor::Stage() {
  StagedExtraction result;
  result.settings_ = settings_;
  result.events_ = std::make_shared<ExtractEvents>(events_);
  std::error_code ec;
  auto target = std::make_unique<platform::Folder>(
      platform::Folder::OpenOrCreate(settings_.destDir, result.targetCreated_, ec));
  if (!target->IsOpen()) {
    throw EDestDirError("Cannot use the folder \"" + settings_.destDir + "\". " +
                        (ec ? ec.message() : std::string("unknown error")));
  }
  result.target_ = std::move(target);
  result.staging_ = std::make_unique<StagingFolder>(*result.target_);
  rules_ = NameRules::Native();
  rules_.maxLength = std::min<size_t>(rules_.maxLength, result.target_->NameMax());
  rules_.ignoreCase = result.staging_->NamesIgnoreCase();
  result.rules_ = rules_;

  const std::vector<int> selected = SelectEntries(Mode::Stage);
  // Each file's name in the target folder; of entries of one stored name only the last is
  // written, the others are checked only.
  NameEntries(selected);

  // The workers write into the staging folder: they are stopped before it goes, however this
  // pass ends (an error unwinds `result`, and the folder with it, right after this guard).
  struct StopWorkers {
    std::unique_ptr<DecodeAhead>& ahead;
    ~StopWorkers() { ahead.reset(); }
  } stopWorkers{ahead_};
  StartDecodeAhead(selected, result.staging_.get());
  for (int index : selected) {
    while (StageEntry(index, entries_[index], result)) {
    }
  }
  return result;
}

bool ZipExtractor::CheckOnly(int index, StagedExtraction& result) {
  if (!CanDecode(index, work_, false)) {
    ++result.failed_;
    return false;
  }
  const Decoded decoded = Decode(work_, nullptr, TakeAhead(index));
  const bool sound = Sound(work_, decoded.complete, decoded.crc);
  ++(sound ? result.passed_ : result.failed_);
  return sound;
}

bool ZipExtractor::StageEntry(int index, ZipHeaderInfo& entry, StagedExtraction& result) {
  work_ = entry;
  ProcessMessages();
  const auto folders = EntryFolders(work_);

  if (work_.FileName().empty() && settings_.recreateDirs) {  // a folder entry
    if (!folders) return Skip(SkipReason::srCreateError, index, work_.FullName());
    result.staged_.push_back(StagedExtraction::Staged{index, {}, *folders, {}, {}, false, {}, {}, -1});
    ++result.passed_;
    return false;
  }

  const NameDecision& named = names_[static_cast<size_t>(index)];
  const std::string& name = named.name;
  const std::string defaultPath =
      folders ? JoinOutputPath(JoinAll(settings_.destDir, *folders), name) : std::string();
  std::string path = name.empty() ? work_.FileName() : defaultPath;

  // Checks an entry that will not be written: a damaged one still fails the pass.
  auto checkOnly = [&](bool retry) {
    if (!retry) CheckOnly(index, result);
    return retry;
  };

  if (name.empty() || !folders) {
    result.notices_.push_back(NameNotice{NameNotice::Kind::NotExtracted, work_.FullName(), {}, 0});
    return checkOnly(Skip(SkipReason::srCreateError, index, work_.FullName()));
  }
  if (events_.startUnZip) {
    bool skip = false;
    events_.startUnZip(index, skip, path);
    if (skip) {
      Unselect(work_);
      return checkOnly(false);
    }
  }
  if (!CanDecode(index, work_, true)) {
    ++result.failed_;
    return false;
  }

  const bool ownPath = path == defaultPath;
  // Only the overwrite modes that ask or compare look at the target now; what holds a target
  // name is looked at again, for every file, when the files go into place.
  if (settings_.overwriteMode != UZOverwriteMode::Always && (!ownPath || !result.targetCreated_)) {
    const auto existing = ownPath && folders->empty() ? result.target_->Lookup(name) : platform::LookupPath(path);
    if (existing && existing->IsFile() && !MayReplace(index, work_, path, name)) {
      return checkOnly(Skip(SkipReason::srNoOverwrite, index, work_.FullName()));
    }
  }

  const std::string key = JoinAll({}, *folders) + '/' + work_.FileName();
  // A later entry of the same stored name writes the file: this one is only checked, and counts
  // as extracted when that file goes into place, as if it had been written and then overwritten.
  if (ownPath && named.superseded) {
    if (CheckOnly(index, result)) {
      result.staged_.push_back(
          StagedExtraction::Staged{index, {}, *folders, name, {}, true, key, work_.FullName(), -1});
      result.notices_.push_back(NameNotice{NameNotice::Kind::Superseded, work_.FullName(), {}, 0});
    }
    return false;
  }

  StagedExtraction::Staged staged{
      index, {}, *folders, name, ownPath ? std::string() : path, false, key, work_.FullName(), -1};

  std::optional<DecodedEntry> ahead = TakeAhead(index);
  Decoded decoded;
  if (ahead && !ahead->stagedName.empty()) {
    // A worker wrote the staged file; what is left is the output step's accounting.
    staged.stagedName = ahead->stagedName;
    try {
      decoded = Decode(work_, nullptr, std::move(ahead));
    } catch (...) {
      result.staging_->Drop(staged.stagedName);
      throw;
    }
  } else {
    std::error_code ec;
    platform::File file = result.staging_->NewFile(static_cast<size_t>(index), staged.stagedName, ec);
    if (!file.IsOpen()) throw ECantWriteUCF(zip_text::kCantWriteUcf);
    BufferedFileStream out(kStreamBufferSize);
    out.Adopt(std::move(file), result.staging_->PathOf(staged.stagedName));
    try {
      decoded = Decode(work_, &out, std::move(ahead));
      if (!out.Flush() || (settings_.flushFilesOnClose && !out.Sync())) throw ECantWriteUCF(zip_text::kCantWriteUcf);
      StagingFolder::Stamp(out.Handle(), work_.DateTime(), settings_.retainAttributes, work_.ExternalAttributes());
      if (!out.Close()) throw ECantWriteUCF(zip_text::kCantWriteUcf);
    } catch (...) {
      out.Close();
      result.staging_->Drop(staged.stagedName);
      throw;
    }
  }
  if (!Sound(work_, decoded.complete, decoded.crc)) {
    if (events_.badCrc) events_.badCrc(decoded.crc, index, work_.Crc32());
    result.staging_->Drop(staged.stagedName);
    ++result.failed_;
    return false;
  }
  if (ownPath && named.changes != 0) {
    staged.notice = static_cast<int>(result.notices_.size());
    result.notices_.push_back(NameNotice{NameNotice::Kind::Renamed, work_.FullName(), name, named.changes});
  }
  result.staged_.push_back(std::move(staged));
  ++result.passed_;
  return false;
}

}  // namespace kvelv
