#pragma once
// The extraction engine of the archive reader. Two functions over the loaded entry list:
//
// - Test: decodes and CRC-checks the selected entries; nothing on disk is created or changed.
// - Stage: decodes every selected entry once, into a new file under a private name in a staging
//   folder inside the target folder, checking it on the way. Nothing that already sits in the
//   target folder is opened for writing, truncated or removed. The result, a StagedExtraction,
//   moves the complete and checked files into place by renames (Commit), or drops them all.
//
// So an extraction that fails part-way (disk full, damaged data, cancelled, killed) leaves the
// target folder as it was, and a file at a target name (a hard link, a symbolic link, another
// user's file) is replaced, never written through.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Folder.h"
#include "zip/BufferedFileStream.h"
#include "zip/EntryDecoder.h"
#include "zip/SortedZip.h"
#include "zip/ZipTypes.h"

namespace kvelv {

class DecodeAhead;
class StagingFolder;
struct DecodedEntry;

// Buttons of a library message and the answers.
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

// How a pass chooses and places entries (the reader's published settings).
struct ExtractSettings {
  std::string destDir;  // the target folder; "" is the current folder
  bool recreateDirs = false;
  std::vector<std::string> relativePathList;
  UZOverwriteMode overwriteMode = UZOverwriteMode::Prompt;
  bool retainAttributes = true;
  bool replaceReadOnly = false;
  bool flushFilesOnClose = false;
  bool doAll = false;
  std::vector<std::string> filesList;  // patterns of the entries to take when doAll is false
};

// What a pass lets its caller hear and decide; every member is optional.
struct ExtractEvents {
  std::function<void(int count, bool& stop, int64_t totalBytes)> startUnZipInfo;
  std::function<void(int index, bool& skip, std::string& path)> startUnZip;
  std::function<void(int index, const std::string& path)> endUnZip;
  std::function<void(int count)> unZipComplete;
  std::function<void(const std::string& name, int percent)> filePercentDone;
  std::function<void(int percent)> totalPercentDone;
  std::function<void(bool& replace, const std::string& path, int index)> promptForOverwrite;
  std::function<void(SkipReason reason, bool& retry, int index, const std::string& name)> skippingFile;
  std::function<void(int index, std::string& newPassword)> badPassword;
  std::function<void(uint32_t computedCrc, int index, uint32_t storedCrc)> badCrc;
  // Lets pending messages run between blocks of work; may raise EUserCanceled.
  std::function<void()> processMessages;
  // How far the pass has got; called before each processMessages within an entry's data.
  std::function<void(const PassProgress& progress)> progress;
  // Shows a library message and returns the answer (the default when nobody answers).
  std::function<MessageResult(int messageId, const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageResult defaultResult)>
      handleMessage;
};

// Files of an extraction, written and checked, waiting to be moved into place. Dropped with the
// staging folder when the object goes without Commit().
class StagedExtraction {
 public:
  ~StagedExtraction();
  StagedExtraction(StagedExtraction&&) noexcept;
  StagedExtraction& operator=(StagedExtraction&&) noexcept;

  // Entries of the pass: selected, checked and found sound, and failed (bad CRC, too long,
  // unknown method or size, encrypted). Skipped entries were checked and count as passed.
  int Passed() const { return passed_; }
  int Failed() const { return failed_; }
  // The target path of every selected file entry with a usable name, in entry order, whether
  // it will be written or not (an existing file there may be kept, see Commit).
  const std::vector<std::string>& TargetPaths() const { return targets_; }

  // Moves every staged file into place, in entry order (a later entry with the same target
  // wins). A target that became a folder or a read-only file (unless ReplaceReadOnly) is skipped
  // (srCreateError) and keeps what it is. Returns how many files went into place; MoveFailures()
  // tells how many could not be moved for any other reason.
  int Commit();
  int MoveFailures() const { return moveFailures_; }
  // The reason of the first move that failed ("" when none).
  const std::string& FirstMoveFailure() const { return firstMoveFailure_; }

 private:
  friend class ZipExtractor;
  struct Staged {
    int index = 0;                        // of the entry in the list
    std::string stagedName;               // in the staging folder ("" for a folder entry)
    std::vector<std::string> subfolders;  // below the target folder, outermost first
    std::string name;                     // the file's final name ("" for a folder entry)
    std::string hookPath;                 // a path OnStartUnZip chose instead, "" when none
    bool superseded = false;              // checked only: a later entry writes the same file
  };
  StagedExtraction();
  bool MoveOne(const Staged& staged, std::string& path);

  std::unique_ptr<platform::Folder> target_;
  bool targetCreated_ = false;
  std::unique_ptr<StagingFolder> staging_;
  std::vector<Staged> staged_;
  std::vector<std::string> targets_;
  ExtractSettings settings_;
  ExtractEvents events_;
  int passed_ = 0;
  int failed_ = 0;
  int moveFailures_ = 0;
  std::string firstMoveFailure_;
  bool committed_ = false;
};

class ZipExtractor {
 public:
  // `entries` is the list in the order events number them; `archive` reads the archive through
  // a source, which the workers decoding ahead read too.
  ZipExtractor(BufferedFileStream& archive, SortedZip& entries, ExtractSettings settings, ExtractEvents events);
  ~ZipExtractor();
  ZipExtractor(const ZipExtractor&) = delete;
  ZipExtractor& operator=(const ZipExtractor&) = delete;

  // Decodes and checks the selected entries, marking each tested entry passed (1) or failed (2);
  // nothing on disk changes. Returns how many passed.
  int Test();
  // Opens (creating it when missing) the target folder and stages every selected entry. Raises
  // EDestDirError when the target folder cannot be used, and what decoding raises for damaged
  // data (EFatalUnzipError, EZCompressionError, ...), a write that fails (ECantWriteUCF) or a
  // cancel request (EUserCanceled); nothing is left in the target folder then.
  StagedExtraction Stage();

 private:
  enum class Mode { Test, Stage };
  struct Decoded {
    bool complete = false;  // exactly the declared size came out
    uint32_t crc = 0;
  };

  std::vector<int> SelectEntries(Mode mode);
  bool Select(ZipHeaderInfo& entry, Mode mode) const;
  // Starts the workers decoding ahead; with `staging` they write the staged files too.
  void StartDecodeAhead(const std::vector<int>& selected, StagingFolder* staging = nullptr);
  // What a worker prepared for entry `index`, nullopt when the pass decodes it itself.
  std::optional<DecodedEntry> TakeAhead(int index);
  bool TestEntry(int index, ZipHeaderInfo& entry);
  bool StageEntry(int index, ZipHeaderInfo& entry, StagedExtraction& result);
  // Decodes the working entry only to check it; counts it passed or failed and says which.
  bool CheckOnly(int index, StagedExtraction& result);
  // Decodes `work` into `file` (nullptr: nowhere) through the output step, or replays what a
  // worker decoded ahead.
  Decoded Decode(const ZipHeaderInfo& work, BufferedFileStream* file, std::optional<DecodedEntry> decoded);
  bool CanDecode(int index, const ZipHeaderInfo& work, bool showMessages);
  bool MayReplace(int index, const ZipHeaderInfo& entry, const std::string& path, const std::string& name);
  bool Skip(SkipReason reason, int index, const std::string& name);
  void Unselect(const ZipHeaderInfo& entry);
  void ProcessMessages();
  MessageResult HandleMessage(int id, const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageResult defaultResult);

  BufferedFileStream& archive_;
  SortedZip& entries_;
  ExtractSettings settings_;
  ExtractEvents events_;
  ZipHeaderInfo work_;   // each entry is copied here before it is handled
  int64_t totalSelected_ = 0;
  int64_t bytesWritten_ = 0;
  std::vector<bool> superseded_;  // per entry: a later entry goes to the same path
  EntryDecoder decoder_;  // this thread's: the workers decoding ahead have their own
  std::unique_ptr<DecodeAhead> ahead_;
};

}  // namespace kvelv
