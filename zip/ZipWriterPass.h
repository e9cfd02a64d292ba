#pragma once
// State and steps of one PackFiles call (internal to the writer). The pass owns the output file
// until it is complete: if the pass is left by an exception, the file being written is closed
// and deleted, so no partial archive remains.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/File.h"
#include "zip/BufferedFileStream.h"
#include "zip/EndCentral.h"
#include "zip/EntryPrefetcher.h"
#include "zip/SortedZip.h"
#include "zip/ZipWriter.h"

namespace kvelv {

class ZipWriter::Pass {
 public:
  explicit Pass(ZipWriter& writer);
  ~Pass();
  Pass(const Pass&) = delete;
  Pass& operator=(const Pass&) = delete;

  // Steps 3 to 12 of the pass; returns the number of entries added or replaced.
  int Run();

 private:
  // --- ZipWriter.cpp -------------------------------------------------------------------------
  void ExpandItems(bool existing);
  void CreateOutput(bool existing);
  void AddItems();
  void WriteCentralDirectory();
  void CloseOutput();
  void Dispose();
  void Adopt(std::unique_ptr<ZipHeaderInfo> entry, bool fromOldArchive);

  // --- ZipWriterAddFile.cpp --------------------------------------------------------------------
  // Packs one item; true when an entry was written (it then stands in entry_). Item `index` of
  // items_ may have been prepared by the prefetcher.
  bool AddFile(const std::string& item, size_t index = SIZE_MAX);
  bool AddFolderEntry(const std::string& item);
  // Opens a source file for reading; retries while OnSkippingFile asks for it.
  bool OpenSource(const std::string& path, platform::File& source);
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

  // --- ZipWriterRewrite.cpp --------------------------------------------------------------------
  void LoadOldNames();
  void CopyOldEntries();
  void CopyOldEntry(const ZipHeaderInfo& old);
  bool FileIsNewer(const std::string& item, const ZipHeaderInfo& old) const;
  void MoveOutputToArchive();

  ZipWriter& w_;
  std::vector<std::string> items_;
  std::vector<bool> itemDone_;  // items consumed while an existing archive was copied
  int64_t totalBytes_ = 0;

  std::string outPath_;
  bool outCreated_ = false;
  bool temporary_ = false;
  bool finished_ = false;
  BufferedFileStream out_;

  std::unique_ptr<SortedZip> byName_;  // recognises names already packed; does not own
  std::unique_ptr<SortedZip> byNone_;  // archive order; owns the entries
  EndCentral end_;
  std::unordered_set<const ZipHeaderInfo*> copied_;  // entries carried over from the old archive
  std::unordered_map<std::string, int> oldNames_;    // lowercased stored name -> old entry index
  std::string oldComment_;

  ParallelDeflater deflater_;  // this thread's: the prefetcher's workers have their own
  std::unique_ptr<EntryPrefetcher> prefetch_;  // declared after items_: stopped before they go
  std::unique_ptr<ZipHeaderInfo> entry_;  // the entry AddFile just wrote
  int count_ = 0;
  std::vector<std::string> disposeList_;
  int64_t bytesWritten_ = 0;
};

}  // namespace kvelv
