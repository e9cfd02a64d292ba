#pragma once
// The extraction engine of the archive reader. Two functions over the loaded entry list:
//
// - Test: decodes and CRC-checks the selected entries; nothing on disk is created or changed.
// - Stage: decodes every selected entry once, into a new file under a private name in a staging
//   folder inside the target folder, checking it on the way, under the name it will have there
//   (zip/TargetNames.h). Nothing that already sits in the target folder is opened for writing,
//   truncated or removed. The result, a StagedExtraction, moves the complete and checked files
//   into place by renames (Commit), all or none, or drops them all.
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
#include "zip/StagedExtraction.h"
#include "zip/TargetNames.h"
#include "zip/ZipTypes.h"

namespace kvelv {

class DecodeAhead;
class StagingFolder;
struct DecodedEntry;

// Buttons of a library message and the answers.
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

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
  // Names every file entry of the pass in the target folder (names_, written_).
  void NameEntries(const std::vector<int>& selected);
  // The folders below the target an entry goes to, mapped to names the file system holds;
  // nullopt when its directory is unsafe.
  std::optional<std::vector<std::string>> EntryFolders(const ZipHeaderInfo& entry) const;
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
  NameRules rules_;                     // of the target folder's file system
  std::vector<NameDecision> names_;     // per entry: its name there, or superseded
  std::vector<bool> written_;           // per entry: a staged file is written for it
  EntryDecoder decoder_;  // this thread's: the workers decoding ahead have their own
  std::unique_ptr<DecodeAhead> ahead_;
};

}  // namespace kvelv
