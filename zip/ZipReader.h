#pragma once
// Opens a ZIP archive file, loads its central directory into an entry list and answers how many
// entries there are and what they are called. Testing and extracting are done by the extraction
// engine (zip/ZipExtractor.h) over the loaded list; ZipWriter derives from this class.
//
// No user interface here: where the design shows a message box, the library calls
// OnHandleMessage (when assigned) and otherwise takes the given default answer.
//
// Multi-part sets are not supported: an archive whose end record says it is one part of a set
// raises EMultiPartUnsupported.
//
// DestDir is an ordinary folder name whatever characters it holds ("?" included).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/ArchiveSource.h"
#include "zip/BufferedFileStream.h"
#include "zip/EndCentral.h"
#include "zip/SortedZip.h"
#include "zip/ZipExtractor.h"
#include "zip/ZipHeaderInfo.h"
#include "zip/ZipTypes.h"

namespace kvelv {

class ZipReader {
 public:
  // Buffer size of every file stream the reader and the writer open.
  static constexpr int StreamBufferSize = kStreamBufferSize;

  ZipReader();
  virtual ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // --- Published properties ------------------------------------------------------------------
  const std::string& ZipName() const { return zipName_; }
  // Resets the reader for a new archive unless the value equals the current one (ASCII-only
  // case-insensitive); opens and reads nothing.
  virtual void SetZipName(const std::string& value);
  // Reads the archive from `source` instead of a file named ZipName; `name` becomes ZipName, for
  // messages only (no side file is looked for beside it). The source must not change while the
  // reader uses it. A later SetZipName drops the source.
  void SetArchiveSource(std::shared_ptr<const ArchiveSource> source, const std::string& name);
  const std::string& DestDir() const { return destDir_; }
  // Stored without one trailing separator; the folder is not created.
  void SetDestDir(const std::string& value);
  const std::string& RootDir() const { return rootDir_; }
  // Stored with a trailing separator (when not empty); becomes the only RelativePathList line.
  void SetRootDir(const std::string& value);
  std::vector<std::string>& RelativePathList() { return relativePathList_; }
  const std::vector<std::string>& RelativePathList() const { return relativePathList_; }
  void SetRelativePathList(const std::vector<std::string>& v) { relativePathList_ = v; }
  ZipSortMode SortMode() const { return sortMode_; }
  // Rebuilds the sorted view when a list is loaded.
  void SetSortMode(ZipSortMode mode);
  bool RecreateDirs() const { return recreateDirs_; }
  void SetRecreateDirs(bool v) { recreateDirs_ = v; }
  UZOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(UZOverwriteMode v) { overwriteMode_ = v; }
  std::vector<std::string>& FilesList() { return filesList_; }
  const std::vector<std::string>& FilesList() const { return filesList_; }
  void SetFilesList(const std::vector<std::string>& v) { filesList_ = v; }
  bool DoAll() const { return doAll_; }
  void SetDoAll(bool v) { doAll_ = v; }
  kvelv::IncompleteZipMode IncompleteZipMode() const { return incompleteZipMode_; }
  void SetIncompleteZipMode(kvelv::IncompleteZipMode v) { incompleteZipMode_ = v; }
  bool KeepZipOpen() const { return keepZipOpen_; }
  void SetKeepZipOpen(bool v) { keepZipOpen_ = v; }
  bool DoProcessMessages() const { return doProcessMessages_; }
  void SetDoProcessMessages(bool v) { doProcessMessages_ = v; }
  bool RetainAttributes() const { return retainAttributes_; }
  void SetRetainAttributes(bool v) { retainAttributes_ = v; }
  bool ReplaceReadOnly() const { return replaceReadOnly_; }
  void SetReplaceReadOnly(bool v) { replaceReadOnly_ = v; }
  bool FlushFilesOnClose() const { return flushFilesOnClose_; }
  void SetFlushFilesOnClose(bool v) { flushFilesOnClose_ = v; }
  kvelv::OEMConvert OEMConvert() const { return oemConvert_; }
  void SetOEMConvert(kvelv::OEMConvert v) { oemConvert_ = v; }
  kvelv::MultiMode MultiMode() const { return multiMode_; }

  // Cooperative requests, checked between blocks of work (see ProcessMessages()).
  bool Cancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }
  bool Pause() const { return pause_; }
  void SetPause(bool v) { pause_ = v; }
  bool Busy() const { return busy_; }

  // --- Events (called only when assigned) ---------------------------------------------------------
  std::function<void(int count, bool& stop, int64_t totalBytes)> OnStartUnZipInfo;
  std::function<void(int index, bool& skip, std::string& path)> OnStartUnZip;
  std::function<void(int index, const std::string& path)> OnEndUnZip;
  std::function<void(int count)> OnUnZipComplete;
  std::function<void(const std::string& name, int percent)> OnFilePercentDone;
  std::function<void(int percent)> OnTotalPercentDone;
  std::function<void(bool& replace, const std::string& path, int index)> OnPromptForOverwrite;
  std::function<void(SkipReason reason, bool& retry, int index, const std::string& name)>
      OnSkippingFile;
  std::function<void(int index, std::string& newPassword)> OnBadPassword;
  std::function<void(uint32_t computedCrc, int index, uint32_t storedCrc)> OnBadCRC;
  std::function<void(kvelv::IncompleteZipMode& mode)> OnInCompleteZip;
  // Replaces the library's message boxes: message number (0 when it has none), text, caption,
  // buttons; returns the answer.
  std::function<MessageResult(int messageId, const std::string& text, const std::string& caption,
                              MessageButtons buttons)>
      OnHandleMessage;
  // Lets pending window messages run; called between blocks of work when DoProcessMessages is
  // set. Library code has no message loop of its own.
  std::function<void()> OnProcessMessages;
  // How far a pass has got (packing, testing, extracting), reported with every block of work,
  // just before OnProcessMessages; on the thread that runs the pass.
  std::function<void(const PassProgress& progress)> OnProgress;

  // --- Directory -----------------------------------------------------------------------------
  // Loads the entry list, or keeps it when the archive file is unchanged since it was loaded.
  // A missing end record under izAssumeMulti leaves no list and returns normally; any other
  // failure does ResetArchive() and is raised again.
  void ReadDirectory();
  // Entries in the loaded list; 0 when none is loaded.
  int EntryCount() const;
  // File-name part of the entry at `index` of the sorted view; EListError
  // "Index %d is out of range" outside 0..EntryCount()-1.
  std::string EntryFileName(int index) const;
  // Directory part of that entry ("" or ending with "\").
  std::string EntryDirectory(int index) const;
  // DOS date/time of that entry, normalised.
  uint32_t EntryDateTime(int index) const;
  // The entry record at `index` of the sorted view (same range check).
  const ZipHeaderInfo& Entry(int index) const;
  // Closes the archive, drops the list and end record, sets one disk and mmNone, clears ZipName.
  void ResetArchive();
  // True after the directory was rebuilt from local headers.
  bool RebuiltFromLocalHeaders() const { return rebuilt_; }
  const EndCentral& EndRecord() const { return endCentral_; }

  // --- Extraction (through zip/ZipExtractor.h) ------------------------------------------------------
  // Test-decompresses every entry; true when every entry passed (false for no entries).
  bool VerifyArchive();
  // Extracts the selected entries (all with DoAll) into DestDir, staged: nothing in DestDir
  // changes until every selected entry is written and checked. Returns how many went into place.
  // Raises what Stage() raises.
  int ExtractAll();
  // Tests every entry and stages the selected ones into DestDir in one pass, each entry decoded
  // once; the caller looks at the outcome and the targets, then commits or drops the files (see
  // StagedExtraction). With RecreateDirs false the list is loaded without folder entries (never
  // written then, and a folder entry always passes a test), so a directory of many folders
  // costs little memory; EntryCountRead() still counts them.
  StagedExtraction StageAll();
  // Entries of the archive's directory, folder entries left out of the list included.
  uint64_t EntryCountRead() const { return static_cast<uint64_t>(EntryCount()) + foldersLeftOut_; }

 protected:
  // The test of one entry (index) or of all entries (-1).
  bool TestEntry(int index);
  // The settings and events a pass of the extraction engine works with.
  ExtractSettings PassSettings() const;
  ExtractEvents PassEvents();

  // Opens ZipName (ReadDenyWrite, StreamBufferSize) when no stream is open (EFOpenError when it
  // cannot be opened) and loads the directory unless the loaded list is still current.
  void OpenArchive();
  // Closes the archive stream (always).
  void CloseArchive();
  // Closes the archive stream unless KeepZipOpen is set.
  void CloseArchiveUnlessKept();
  // Loads the directory from the open stream (end record, central directory, recovery).
  void LoadDirectory();
  // Searches `stream` for the end records and fills `record`; false when not found.
  bool FindEndRecord(BufferedFileStream& stream, EndCentral& record);
  // Rebuilds the list from local headers; false when no local header was found.
  bool RecoverFromLocalHeaders();
  // Builds the SortMode view of the owning list.
  void BuildSortedView();
  // The list index-based operations use (the sorted view, or the owning list for ByNone).
  SortedZip* View() const;
  // Entry of the view at `index` with the range check (EListError).
  ZipHeaderInfo& EntryAt(int index) const;
  // Lets messages run (DoProcessMessages and OnProcessMessages), then honours the requests: a
  // cancel request is cleared and raises EUserCanceled "User Aborted Operation"; a pause request
  // waits in steps of one second until lifted.
  void ProcessMessages();
  // Shows a library message through OnHandleMessage; `defaultResult` when none is assigned.
  MessageResult HandleMessage(int messageId, const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageResult defaultResult);
  // Modification stamp of ZipName now; false when the file cannot be looked at.
  bool ArchiveStamp(int64_t& time, int64_t& size) const;
  // Remembers the archive's current stamp as the loaded one (the writer calls it after writing).
  void RememberArchiveStamp();

  // Restores a flag on every way out of a scope.
  class FlagGuard {
   public:
    FlagGuard(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
    ~FlagGuard() { flag_ = saved_; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

   private:
    bool& flag_;
    bool saved_;
  };

  // Published settings.
  std::string zipName_;
  std::shared_ptr<const ArchiveSource> source_;  // set by SetArchiveSource; null: the file ZipName
  std::string zipNameNoExt_;  // ZipName without its extension
  std::string destDir_;
  std::string rootDir_;
  std::vector<std::string> relativePathList_;
  ZipSortMode sortMode_ = ZipSortMode::ByNone;
  bool recreateDirs_ = false;
  UZOverwriteMode overwriteMode_ = UZOverwriteMode::Prompt;
  std::vector<std::string> filesList_;
  bool doAll_ = false;
  kvelv::IncompleteZipMode incompleteZipMode_ = kvelv::IncompleteZipMode::izAssumeMulti;
  bool keepZipOpen_ = false;
  bool doProcessMessages_ = true;
  bool retainAttributes_ = true;
  bool replaceReadOnly_ = false;
  bool flushFilesOnClose_ = false;
  kvelv::OEMConvert oemConvert_ = kvelv::OEMConvert::oemFlexible;
  kvelv::MultiMode multiMode_ = kvelv::MultiMode::mmNone;

  // The open archive stream (null when closed).
  std::unique_ptr<BufferedFileStream> archive_;
  // The owning entry list in ByNone order (null when no list is loaded).
  std::unique_ptr<SortedZip> entries_;
  // Non-owning view in SortMode order (null for ByNone: the owning list is the view).
  std::unique_ptr<SortedZip> sortedView_;
  EndCentral endCentral_;

  // Stamp of the archive file when the list was loaded.
  bool stampValid_ = false;
  int64_t loadedTime_ = 0;
  int64_t loadedSize_ = 0;

  int numberOfDisks_ = 1;
  int currentDisk_ = 0;

  bool busy_ = false;
  bool operating_ = false;  // reading or extracting
  bool cancel_ = false;
  bool pause_ = false;
  bool rebuilt_ = false;    // rebuilt from local headers
  bool improper_ = false;   // improper archive
  bool recoveryTried_ = false;
  // Folder entries the directory held and the list leaves out (StageAll); false keeps them all.
  bool leaveOutFolders_ = false;
  uint64_t foldersLeftOut_ = 0;
};

}  // namespace kvelv
