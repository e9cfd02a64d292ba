#pragma once
// The packing engine under ZipWriter: one pass that writes an archive from a list of items, with
// the settings and events it is given. The pass owns the output file until it is complete: if it
// is left by an exception, the file being written is closed and deleted, so no partial archive
// remains.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/File.h"
#include "zip/ArchiveFollower.h"
#include "zip/ArchiveTransform.h"
#include "zip/common/BufferedFileStream.h"
#include "zip/records/EndRecord.h"
#include "zip/pack/DeflateAhead.h"
#include "zip/records/EntryList.h"
#include "zip/common/ZipTypes.h"

namespace kvelv {

class SourceFile;

enum class ZipAction { zaUpdate, zaReplace, zaFreshen };

// How a pass chooses, names and stores files (the writer's published settings).
struct PackSettings {
  std::string zipName;
  std::vector<std::string> filesList;
  std::string rootDir;  // "" or ending with the separator
  int packLevel = 6;
  bool expandWildcards = true;
  bool recurse = false;
  bool dispose = false;
  bool storePaths = false;
  bool relativePaths = false;
  kvelv::ZipAction zipAction = kvelv::ZipAction::zaUpdate;
  std::string tempPath;
  bool skipIfArchiveBitNotSet = false;
  std::vector<std::string> excludeList;
  std::vector<std::string> noCompressList;
  bool addDirEntriesOnRecurse = false;
  uint32_t searchAttributes = 0x1F9;
  kvelv::OEMConvert oemConvert = kvelv::OEMConvert::oemFlexible;
  // Laid over every byte of a new archive on its way to the disk (zip/ArchiveTransform.h).
  std::shared_ptr<const ArchiveTransform> transform;
  // Told as a new archive becomes final, so that it can read it meanwhile (zip/ArchiveFollower.h).
  std::shared_ptr<ArchiveFollower> follower;
};

// What a pass lets its caller hear and decide; every member is optional.
struct PackEvents {
  std::function<void(int fileCount, int64_t totalBytes, bool& stop)> startZipInfo;
  std::function<void(const std::string& path, bool& skip)> startZip;
  std::function<void(const std::string& path, uint64_t uncompressedSize, uint64_t compressedSize)> endZip;
  std::function<void(const std::string& item)> noSuchFile;
  std::function<void(SkipReason reason, bool& retry, int index, const std::string& name)> skippingFile;
  std::function<void(const std::string& path)> recursingFile;
  std::function<void(const std::string& path, bool& veto)> disposeFile;
  // Lets pending messages run between blocks of work; may raise EUserCanceled.
  std::function<void()> processMessages;
  // How far the pass has got; called before each processMessages.
  std::function<void(const PassProgress& progress)> progress;
  std::function<MessageResult(int messageId, const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageResult defaultResult)>
      handleMessage;
};

// The archive being rewritten, as the reader loaded it.
struct OldArchive {
  const EntryList& entries;
  BufferedFileStream& stream;
  const EndRecord& end;
  std::function<void()> close;  // before the new archive takes its place
};

// What a pass leaves: the directory of the archive it wrote.
struct PackResult {
  std::unique_ptr<EntryList> entries;  // archive order; owns the entries
  EndRecord end;
  int count = 0;              // entries added or replaced
  bool carriedOver = false;   // entries still point at extra fields of the old archive
};

class ZipPacker {
 public:
  // `old` is the archive ZipName names when it exists already (it is rewritten), else null.
  ZipPacker(const PackSettings& settings, const PackEvents& events, const OldArchive* old);
  ~ZipPacker();
  ZipPacker(const ZipPacker&) = delete;
  ZipPacker& operator=(const ZipPacker&) = delete;

  PackResult Run();

 private:
  // --- ZipPacker.cpp -------------------------------------------------------------------------
  void ExpandItems(bool existing);
  void CreateOutput(bool existing);
  void AddItems();
  void WriteCentralDirectory();
  void CloseOutput();
  // Tells the follower that the archive is final before `end` (the start of what the pass may
  // still rewrite), as far as the file holds it already.
  void FinalBefore(int64_t end);
  void StopFollower();
  void Dispose();
  void Adopt(std::unique_ptr<ZipHeaderInfo> entry, bool fromOldArchive);

  // --- ZipPackerAddFile.cpp --------------------------------------------------------------------
  // Packs one item; true when an entry was written (it then stands in entry_). Item `index` of
  // items_ may have been prepared by the prefetcher.
  bool AddFile(const std::string& item, size_t index = SIZE_MAX);
  // Whether the pass takes `entry`: not when the list has its name already or OnStartZip skips it.
  bool Admits(const ZipHeaderInfo& entry, const std::string& item, int64_t sizeAtOpen);
  // Writes the local header, the data (prepared by a worker, stored or deflated from `source`)
  // and the header again in place with the final sizes and CRC.
  void WriteFileEntry(ZipHeaderInfo& entry, const std::string& item, SourceFile& source,
                      const std::optional<DeflatedEntry>& prepared, int64_t sizeAtOpen);
  bool AddFolderEntry(const std::string& item);
  // Opens a source file for reading; retries while OnSkippingFile asks for it.
  bool OpenSource(const std::string& path, SourceFile& source);
  // Whether the item's data is stored rather than deflated (level 0 or a no-compress pattern).
  bool StoresItem(const std::string& item) const;
  // Starts deflating upcoming files on worker threads when there are several to pack.
  void StartPrefetch();
  void SetStoredName(ZipHeaderInfo& entry, const std::string& item) const;
  // Entry name (directory with "\", then file name) an item would be stored under.
  std::string StoredNameFor(const std::string& item) const;
  std::string StoredDirectoryFor(const std::string& path) const;
  // Hands the entry data to the archive; throws ENotEnoughRoom on a short write.
  void WriteArchiveBytes(const uint8_t* data, size_t count);
  void Skip(SkipReason reason, const std::string& path);

  // --- ZipPackerRewrite.cpp --------------------------------------------------------------------
  void LoadOldNames();
  void CopyOldEntries();
  void CopyOldEntry(const ZipHeaderInfo& old);
  bool FileIsNewer(const std::string& item, const ZipHeaderInfo& old) const;
  void MoveOutputToArchive();

  void ProcessMessages() const;
  // Reports `bytesDone_` of `totalBytes_` for `item`, then lets messages run (a cancel request
  // raises EUserCanceled there).
  void Progress(const std::string& item);

  const PackSettings& settings_;
  const PackEvents& events_;
  const OldArchive* old_;
  std::vector<std::string> items_;
  std::vector<bool> itemDone_;  // items consumed while an existing archive was copied
  int64_t totalBytes_ = 0;

  std::string outPath_;
  bool outCreated_ = false;
  bool temporary_ = false;
  bool finished_ = false;
  BufferedFileStream out_;
  ArchiveFollower* follower_ = nullptr;  // settings_.follower while it follows out_

  std::unique_ptr<EntryList> byName_;  // recognises names already packed; does not own
  std::unique_ptr<EntryList> byNone_;  // archive order; owns the entries
  EndRecord end_;
  std::unordered_set<const ZipHeaderInfo*> copied_;  // entries carried over from the old archive
  std::unordered_map<std::string, int> oldNames_;    // lowercased stored name -> old entry index
  std::string oldComment_;

  ParallelDeflater deflater_;  // this thread's: the prefetcher's workers have their own
  std::unique_ptr<DeflateAhead> prefetch_;  // declared after items_: stopped before they go
  std::unique_ptr<ZipHeaderInfo> entry_;  // the entry AddFile just wrote
  int count_ = 0;
  std::vector<std::string> disposeList_;
  int64_t bytesWritten_ = 0;
  int64_t bytesDone_ = 0;  // read from the files so far
};

}  // namespace kvelv
