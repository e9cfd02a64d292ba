// The extraction and test passes of ZipReader: selection, output paths, overwrite decisions,
// decoding through EntryDecoder, CRC check, dates and attributes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "zip/DecodeAhead.h"
#include "zip/DosDateTime.h"
#include "zip/EntryDecoder.h"
#include "zip/ExtractPaths.h"
#include "zip/ExtractStreams.h"
#include "zip/LittleEndian.h"
#include "zip/WildcardMatch.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

namespace kvelv {

namespace {

const char kPrematureEnd[] = "Premature end of file reached";

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

}  // namespace

// One extraction or test pass over the loaded entry list.
class ExtractionPass {
 public:
  explicit ExtractionPass(ZipReader& reader) : r_(reader) {}

  // Runs the pass; returns how many entries were extracted (or passed the test).
  int Run() {
    SortedZip* view = r_.View();
    const int count = view != nullptr ? view->Count() : 0;
    r_.totalSelected_ = 0;
    r_.bytesWritten_ = 0;
    r_.extracted_ = 0;
    std::vector<int> selected;
    for (int i = 0; i < count; ++i) {
      ZipHeaderInfo& entry = (*view)[i];
      const bool take = Select(entry);
      entry.SetMatched(take ? 1 : 0);
      if (!take) continue;
      selected.push_back(i);
      r_.totalSelected_ = AddSize(r_.totalSelected_, entry.UncompressedSize());
    }
    r_.toDo_ = static_cast<int>(selected.size());
    if (r_.OnStartUnZipInfo) {
      bool stop = false;
      r_.OnStartUnZipInfo(r_.toDo_, stop, r_.totalSelected_);
      if (stop) {
        r_.filesList_.clear();
        return 0;
      }
    }
    if (!r_.testing_ && !r_.destDir_.empty() && !platform::FolderExists(r_.destDir_)) {
      platform::CreateFolders(r_.destDir_);  // a failure shows as entries that cannot be created
    }
    StartDecodeAhead(*view, selected);
    for (int index : selected) {
      while (ProcessEntry(index, (*view)[index])) {
      }
      --r_.toDo_;
    }
    ahead_.reset();
    r_.filesList_.clear();
    if (r_.OnUnZipComplete) r_.OnUnZipComplete(r_.extracted_);
    return r_.extracted_;
  }

 private:
  bool Select(ZipHeaderInfo& entry) const {
    if (entry.FileName().empty() && !r_.recreateDirs_) return false;
    if (r_.testing_ && !r_.doAll_) {
      if (entry.Selected() == 0) return false;
      entry.SetSelected(0);
      return true;
    }
    if (r_.doAll_) return true;
    const std::string name = entry.Directory() + entry.FileName();
    return std::any_of(r_.filesList_.begin(), r_.filesList_.end(),
                       [&](const std::string& pattern) { return pattern == "*" || WildcardMatch(name, pattern); });
  }

  // With several small entries to decode, workers decode them ahead while this thread writes.
  // What an entry decodes to depends only on the archive, which is not written while it is open.
  void StartDecodeAhead(SortedZip& view, const std::vector<int>& selected) {
    if (HardwareThreads() < 2) return;
    std::vector<const ZipHeaderInfo*> entries(static_cast<size_t>(view.Count()), nullptr);
    size_t count = 0;
    for (int index : selected) {
      if (!DecodeAhead::Suits(view[index])) continue;
      entries[static_cast<size_t>(index)] = &view[index];
      ++count;
    }
    if (count >= 2) ahead_ = std::make_unique<DecodeAhead>(r_.ZipName(), entries);
  }

  // Takes a skipped entry out of the pass total.
  void Unselect(const ZipHeaderInfo& entry) {
    const uint64_t size = std::min<uint64_t>(entry.UncompressedSize(), static_cast<uint64_t>(INT64_MAX));
    r_.totalSelected_ = std::max<int64_t>(0, r_.totalSelected_ - static_cast<int64_t>(size));
  }

  // Reports a skip; returns true when a handler asked to process the entry again.
  bool Skip(SkipReason reason, int index, const std::string& name) {
    Unselect(r_.workingEntry_);
    bool retry = false;
    if (r_.OnSkippingFile) r_.OnSkippingFile(reason, retry, index, name);
    return retry;
  }

  // The folder the entry goes to (not created here); nullopt when it must not be used.
  std::optional<std::string> OutputFolder(const ZipHeaderInfo& entry) {
    std::string folder = r_.destDir_;
    if (!r_.recreateDirs_ || entry.Directory().empty()) return folder;
    auto folders = SafeEntryFolders(entry.Directory(), r_.relativePathList_);
    if (!folders) return std::nullopt;
    for (const std::string& sub : *folders) {
      folder = JoinOutputPath(folder, sub);
      if (!r_.testing_ && platform::IsSymlink(folder)) return std::nullopt;  // never leave DestDir
    }
    return folder;
  }

  // Whether an existing `path` may be replaced under the overwrite mode.
  bool MayReplace(int index, const ZipHeaderInfo& entry, const std::string& path, const std::string& name) {
    switch (r_.overwriteMode_) {
      case UZOverwriteMode::Always:
        return true;
      case UZOverwriteMode::Never:
        return false;
      case UZOverwriteMode::Prompt: {
        bool replace = false;
        if (r_.OnPromptForOverwrite) {
          r_.OnPromptForOverwrite(replace, path, index);
          return replace;
        }
        return r_.HandleMessage(0, CutText("Replace existing file " + name + "?", 300), "File Exists Alert",
                                MessageButtons::YesNo, MessageResult::No) == MessageResult::Yes;
      }
      case UZOverwriteMode::ifNewer:
      case UZOverwriteMode::ifOlder: {
        auto info = platform::GetFileInfo(path);
        if (!info) return true;
        const uint32_t existing = DosDateTimeFromUnix(info->lastWriteTime);
        const uint32_t stored = NormalizeDosDateTime(entry.DateTime());
        return r_.overwriteMode_ == UZOverwriteMode::ifNewer ? stored > existing : stored < existing;
      }
    }
    return false;
  }

  // Opens the output file; retries once without the read-only attribute when ReplaceReadOnly.
  bool CreateOutput(BufferedFileStream& out, const std::string& path) {
    std::error_code ec;
    if (out.Open(path, platform::OpenMode::CreateAlways, ec)) return true;
    if (!r_.replaceReadOnly_ || platform::IsSymlink(path)) return false;
    auto info = platform::GetFileInfo(path);
    if (!info || info->IsFolder() || (info->attributes & platform::kAttrReadOnly) == 0) return false;
    if (!platform::SetDosAttributes(path, info->attributes & ~platform::kAttrReadOnly)) return false;
    return out.Open(path, platform::OpenMode::CreateAlways, ec);
  }

  // Position of the entry's data, from the local header's name and extra field lengths.
  void SeekToData(const ZipHeaderInfo& entry) {
    BufferedFileStream& archive = *r_.archive_;
    std::array<uint8_t, kLocalHeaderSize> header{};
    const uint64_t offset = entry.RelativeOffset();
    if (offset > static_cast<uint64_t>(INT64_MAX) - 0x30000 || !archive.Seek(static_cast<int64_t>(offset)) ||
        !archive.ReadExact(header.data(), kLocalHeaderSize)) {
      throw EFatalUnzipError(kPrematureEnd);
    }
    const uint64_t data = offset + kLocalHeaderSize + GetU16(&header[26]) + GetU16(&header[28]);
    if (!archive.Seek(static_cast<int64_t>(data))) throw EFatalUnzipError(kPrematureEnd);
  }

  void Passed(ZipHeaderInfo& entry) {
    if (r_.testing_) entry.SetTestStatus(1);
    ++r_.extracted_;
  }

  // Extracts or tests one entry; returns true when it is to be processed again.
  bool ProcessEntry(int index, ZipHeaderInfo& entry) {
    r_.workingEntry_ = entry;
    const ZipHeaderInfo& work = r_.workingEntry_;
    const bool testing = r_.testing_;
    if (testing) entry.SetTestStatus(2);
    r_.ProcessMessages();

    if (work.FileName().empty()) {  // a directory entry (selected only with RecreateDirs)
      if (testing) {
        Passed(entry);
        return false;
      }
      auto folder = OutputFolder(work);
      if (!folder) return Skip(SkipReason::srCreateError, index, work.FullName());
      if (!folder->empty() && !platform::FolderExists(*folder) && !platform::CreateFolders(*folder)) {
        return Skip(SkipReason::srCreateError, index, work.FullName());
      }
      Passed(entry);
      return false;
    }

    const std::string name = SafeEntryFileName(work.FileName());
    auto folder = OutputFolder(work);
    if (!testing && (name.empty() || !folder)) return Skip(SkipReason::srCreateError, index, work.FullName());
    std::string path = testing ? work.FileName() : JoinOutputPath(*folder, name);

    if (r_.OnStartUnZip) {
      bool skip = false;
      r_.OnStartUnZip(index, skip, path);
      if (skip) {
        Unselect(work);
        return false;
      }
    }
    if (!testing) {
      const std::string parent = platform::FolderPart(path);
      if (!parent.empty() && !platform::FolderExists(parent)) platform::CreateFolders(parent);
    }

    if (work.IsEncrypted()) {
      // No decryption here: a password a handler offers cannot help.
      if (r_.OnBadPassword) {
        std::string offered;
        r_.OnBadPassword(index, offered);
      }
      return Skip(SkipReason::srBadPassword, index, work.FullName());
    }
    if (!IsSupportedMethod(work.CompressionMethod())) {
      // Checked before the output is created, so an existing file is not destroyed for nothing.
      if (!testing) {
        r_.HandleMessage(0, "Unknown Compression Method", "Zip Error", MessageButtons::Ok, MessageResult::Ok);
      }
      return false;
    }

    if (!testing) {
      // A symbolic link at the output path is never followed nor replaced.
      if (platform::IsSymlink(path)) return Skip(SkipReason::srCreateError, index, work.FullName());
      if (platform::FileExists(path) && !MayReplace(index, work, path, name)) {
        return Skip(SkipReason::srNoOverwrite, index, work.FullName());
      }
    }
    BufferedFileStream out(ZipReader::StreamBufferSize);
    if (!testing && !CreateOutput(out, path)) return Skip(SkipReason::srCreateError, index, work.FullName());

    bool complete = false;
    uint32_t computed = 0;
    try {
      uint64_t entryDone = 0;
      EntryOutput output(testing ? nullptr : &out, work.UncompressedSize(), [&](size_t count) {
        entryDone += count;
        r_.bytesWritten_ += static_cast<int64_t>(count);
        if (r_.OnFilePercentDone) r_.OnFilePercentDone(work.FileName(), Percent(entryDone, work.UncompressedSize()));
        if (r_.OnTotalPercentDone) {
          r_.OnTotalPercentDone(Percent(static_cast<uint64_t>(std::max<int64_t>(r_.bytesWritten_, 0)),
                                        static_cast<uint64_t>(std::max<int64_t>(r_.totalSelected_, 0))));
        }
        r_.ProcessMessages();
      });
      try {
        std::optional<DecodedEntry> decoded;
        if (ahead_) decoded = ahead_->Take(static_cast<size_t>(index));
        if (decoded) {
          // What a worker decoded goes through the same output step, then its ending is raised.
          for (size_t at = 0; at < decoded->size; at += kReplayBlock) {
            output.Write(decoded->data.get() + at, std::min(kReplayBlock, decoded->size - at));
          }
          if (decoded->error) std::rethrow_exception(decoded->error);
        } else {
          SeekToData(work);
          EntryDataSource source(*r_.archive_, work.CompressedSize());
          decoder_.Decode(work.CompressionMethod(), work.Flag(), source, output, work.UncompressedSize());
        }
        complete = output.Written() == work.UncompressedSize();
      } catch (const EBiggerThanUncompressed&) {
        complete = false;  // more data than declared: the entry fails like a bad CRC
      }
      output.Finish();  // the CRC and the writes may still be running on the output's thread
      computed = output.Crc();
      if (!testing) {
        if (r_.flushFilesOnClose_) out.Sync();
        if (!out.Close()) throw ECantWriteUCF("Cant write uncompressed file");
      }
    } catch (...) {
      // An unfinished output file is never left behind looking like a result.
      if (!testing) {
        out.Close();
        platform::DeleteFile(path);
      }
      throw;
    }

    const bool crcOk = work.Crc32() == 0 || computed == work.Crc32();
    if (!complete || !crcOk) {
      if (r_.OnBadCRC) r_.OnBadCRC(computed, index, work.Crc32());
      if (!testing) platform::DeleteFile(path);
      return false;
    }
    if (!testing) {
      int64_t seconds = 0;
      if (UnixFromDosDateTime(NormalizeDosDateTime(work.DateTime()), seconds)) {
        platform::SetLastWriteTime(path, seconds);
      }
      if (r_.retainAttributes_) platform::SetDosAttributes(path, work.ExternalAttributes());
    }
    if (r_.OnEndUnZip) r_.OnEndUnZip(index, path);
    Passed(entry);
    return false;
  }

  static constexpr size_t kReplayBlock = 32768;

  ZipReader& r_;
  EntryDecoder decoder_;  // this thread's: the workers decoding ahead have their own
  std::unique_ptr<DecodeAhead> ahead_;
};

bool ZipReader::TestEntry(int index) {
  FlagGuard operating(operating_, true);
  const bool savedRecreateDirs = recreateDirs_;
  const std::string savedDestDir = destDir_;
  int passed = 0;
  bool result = false;
  {
    FlagGuard testing(testing_, true);
    struct Restore {
      ZipReader& r;
      bool recreateDirs;
      const std::string& destDir;
      ~Restore() {
        r.recreateDirs_ = recreateDirs;
        r.SetDestDir(destDir);
        r.CloseArchive();
      }
    } restore{*this, savedRecreateDirs, savedDestDir};
    recreateDirs_ = true;
    destDir_.clear();
    OpenArchive();
    if (index >= 0) {
      ZipHeaderInfo& entry = EntryAt(index);
      if (entry.TestStatus() == 1) return true;
      if (entry.TestStatus() == 2) return false;
    }
    filesList_.clear();
    if (index >= 0) EntryAt(index).SetSelected(1);
    passed = ExtractionPass(*this).Run();
    if (index >= 0) result = EntryAt(index).TestStatus() == 1;
  }
  if (passed == 0) return false;
  if (index < 0) return !doAll_ || passed == EntryCount();
  return result;
}

bool ZipReader::VerifyArchive() {
  FlagGuard doAll(doAll_, true);
  return TestEntry(-1);
}

int ZipReader::ExtractAll() {
  FlagGuard busy(busy_, true);
  FlagGuard operating(operating_, true);
  // The cancel request is cleared for the pass and after it, however it ends.
  cancel_ = false;
  struct ClearCancel {
    bool& cancel;
    ~ClearCancel() { cancel = false; }
  } clearCancel{cancel_};
  if (destDir_ == "?") return 0;
  ReadDirectory();
  FlagGuard keepOpen(keepZipOpen_, true);
  struct CloseOnExit {
    ZipReader& r;
    ~CloseOnExit() { r.CloseArchive(); }
  } close{*this};
  OpenArchive();
  return ExtractionPass(*this).Run();
}

}  // namespace kvelv
