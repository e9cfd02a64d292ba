#pragma once
// Turns a list of file paths into a ZIP archive: plain paths, folder entries (a trailing
// separator) and wildcard items ("*.txt", ">*.log" for all subfolders) that name no existing file. An archive that exists
// already is rewritten through a temporary file under ZipAction.
//
// Failures: a short or failed write anywhere raises ENotEnoughRoom "Not enough room to write
// archive"; a source file that cannot be read after it was opened raises EZipException naming the
// file, and one that changes while it is packed raises ESourceChanged (zip/pack/SourceFile.h: a file
// that only grows at its end is packed as it was when opened). Either way no archive file is
// left behind (an archive that was being rewritten stays as it was). Files that are missing, hidden, system, excluded, unopenable or named like an earlier
// one are left out silently (only the hooks hear of them).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/pack/ZipPacker.h"
#include "zip/ZipReader.h"

namespace kvelv {

class ZipWriter : public ZipReader {
 public:
  ZipWriter();
  ~ZipWriter() override;

  // --- Published settings --------------------------------------------------------------------
  // Kept for the design, though nothing in this program sets them: Recurse (wildcard items
  // searched in subfolders too, as ">" asks), AddDirEntriesOnRecurse (the folders met then
  // become folder entries), SkipIfArchiveBitNotSet and IncludeArchiveFiles (by the archive
  // attribute, which every regular POSIX file carries), StoreVolumes and ResetArchiveBitOnZip
  // (accepted; they change nothing here, see below).
  // Deflate level 0-9 (values outside are clamped); 0 stores every entry.
  int PackLevel() const { return pack_.packLevel; }
  void SetPackLevel(int level);
  // Whether items with wildcard characters that name no existing file are expanded as patterns
  // (true by default). An item that names an existing file is always packed as that file.
  bool ExpandWildcards() const { return pack_.expandWildcards; }
  void SetExpandWildcards(bool v) { pack_.expandWildcards = v; }
  bool Recurse() const { return pack_.recurse; }
  void SetRecurse(bool v) { pack_.recurse = v; }
  // Deletes each packed source file after the archive is complete (OnDisposeFile may veto).
  bool Dispose() const { return pack_.dispose; }
  void SetDispose(bool v) { pack_.dispose = v; }
  bool StorePaths() const { return pack_.storePaths; }
  void SetStorePaths(bool v) { pack_.storePaths = v; }
  bool RelativePaths() const { return pack_.relativePaths; }
  void SetRelativePaths(bool v) { pack_.relativePaths = v; }
  // With StorePaths: would keep the drive of the stored folder. POSIX paths have none, and a
  // leading "/" is never stored, so the setting changes nothing here.
  bool StoreVolumes() const { return storeVolumes_; }
  void SetStoreVolumes(bool v) { storeVolumes_ = v; }
  kvelv::ZipAction ZipAction() const { return pack_.zipAction; }
  void SetZipAction(kvelv::ZipAction v) { pack_.zipAction = v; }
  // Folder of the temporary file when an existing archive is rewritten; "" or a missing folder
  // means the system's temporary folder.
  const std::string& TempPath() const { return pack_.tempPath; }
  void SetTempPath(const std::string& v) { pack_.tempPath = v; }
  bool SkipIfArchiveBitNotSet() const { return pack_.skipIfArchiveBitNotSet; }
  void SetSkipIfArchiveBitNotSet(bool v) { pack_.skipIfArchiveBitNotSet = v; }
  // POSIX keeps no archive attribute: the setting is accepted and changes nothing.
  bool ResetArchiveBitOnZip() const { return resetArchiveBitOnZip_; }
  void SetResetArchiveBitOnZip(bool v) { resetArchiveBitOnZip_ = v; }
  // Patterns of files to leave out: one with a separator is matched against the whole path,
  // any other against the file name.
  std::vector<std::string>& ExcludeList() { return pack_.excludeList; }
  void SetExcludeList(const std::vector<std::string>& v) { pack_.excludeList = v; }
  // Patterns of file names to store instead of deflating.
  std::vector<std::string>& NoCompressList() { return pack_.noCompressList; }
  void SetNoCompressList(const std::vector<std::string>& v) { pack_.noCompressList = v; }
  bool AddDirEntriesOnRecurse() const { return pack_.addDirEntriesOnRecurse; }
  void SetAddDirEntriesOnRecurse(bool v) { pack_.addDirEntriesOnRecurse = v; }
  // The search attribute mask (0x1F9 by default: hidden and system files are not seen).
  bool IncludeHiddenFiles() const { return (pack_.searchAttributes & 0x02) != 0; }
  void SetIncludeHiddenFiles(bool v) { SetSearchBit(0x02, v); }
  bool IncludeSysFiles() const { return (pack_.searchAttributes & 0x04) != 0; }
  void SetIncludeSysFiles(bool v) { SetSearchBit(0x04, v); }
  bool IncludeReadOnlyFiles() const { return (pack_.searchAttributes & 0x01) != 0; }
  void SetIncludeReadOnlyFiles(bool v) { SetSearchBit(0x01, v); }
  bool IncludeArchiveFiles() const { return (pack_.searchAttributes & 0x20) != 0; }
  void SetIncludeArchiveFiles(bool v) { SetSearchBit(0x20, v); }
  uint32_t SearchAttributes() const { return pack_.searchAttributes; }
  // Passes every byte of the archive through `transform` on its way to the disk, so that the
  // file never holds the archive itself; whoever reads it back applies the same transform.
  // Only a new archive is written so: with a transform set, an existing ZipName is refused.
  void SetArchiveTransform(std::shared_ptr<const ArchiveTransform> transform) { pack_.transform = std::move(transform); }
  // Lets `follower` read a new archive while it is written, each part once it is final
  // (zip/ArchiveFollower.h); an archive that exists already is not followed.
  void SetArchiveFollower(std::shared_ptr<ArchiveFollower> follower) { pack_.follower = std::move(follower); }

  // --- Hooks (called only when assigned) ---------------------------------------------------------
  std::function<void(int fileCount, int64_t totalBytes, bool& stop)> OnStartZipInfo;
  std::function<void(const std::string& path, bool& skip)> OnStartZip;
  std::function<void(const std::string& path, uint64_t uncompressedSize, uint64_t compressedSize)>
      OnEndZip;
  std::function<void(const std::string& item)> OnNoSuchFile;
  // Items left out for a reason go to the inherited OnSkippingFile with index -1; its `retry`
  // asks to open the file again (srFileOpenError only).
  std::function<void(const std::string& path)> OnRecursingFile;
  std::function<void(const std::string& path, bool& veto)> OnDisposeFile;
  std::function<void(int count)> OnZipComplete;

  // --- Operations ------------------------------------------------------------------------------
  // Writes ZipName from FilesList (empties FilesList); returns the number of entries added or
  // replaced. With an empty ZipName nothing is written and 0 is returned. Afterwards the entry
  // list and end record describe the archive just written.
  int PackFiles();

 private:
  void SetSearchBit(uint32_t bit, bool on);
  // One pass of the packing engine; the archive written becomes this object's directory.
  int Pack();

  PackSettings pack_;  // ZipName, FilesList, RootDir and OEMConvert are filled in for each pass
  bool storeVolumes_ = false;
  bool resetArchiveBitOnZip_ = false;
};

}  // namespace kvelv
