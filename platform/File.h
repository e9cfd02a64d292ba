#pragma once
// An open file, with the sharing modes the program needs. No OS types leak out of here.
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/FileStamp.h"

namespace kvelv::platform {

// Permissions for a new file that has no file to take them from.
enum class NewFileMode {
  Usual,    // what new files get: 0666 less the umask
  Private,  // the owner only (0600)
};

enum class OpenMode {
  ReadDenyNone,     // read; others may read and write (source files); holds no lock, but is
                    // refused while another holder shares nothing (exclusive lock)
  ReadDenyWrite,    // read; others may read but not write (archives being read): shared lock
  ReadWriteDenyAll, // read+write existing file; exclusive lock (IsFileLocked probe)
  CreateNew,        // create a file that must not exist, mode 0600, never through a symlink; exclusive lock
  CreateAlways,     // create (mode 0666 less umask) or truncate for writing, never through a
                    // symlink; exclusive lock
  WriteExisting,    // open an existing file for writing with sharing allowed (setting times)
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`; on failure returns a closed File and sets `ec`. A read-only file (the owner
  // lacks write permission) is refused for writing even to root, as the program's design expects
  // (EACCES); a conflicting lock gives EBUSY; folders, FIFOs and sockets are refused. A file
  // this call created is removed again when the open fails after all.
  static File Open(const std::string& path, OpenMode mode, std::error_code& ec);

  bool IsOpen() const { return handle_ >= 0; }
  // Bytes read (0 at end of file), or -1 on error (see LastError()).
  int64_t Read(void* buffer, int64_t count);
  // Up to `count` bytes from `position`; fewer at the end of the file, -1 on error. Safe to call
  // from several threads at once; sets no LastError(). The file position afterwards is undefined
  // (Windows moves it), so a handle used for this is best used for nothing else.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const;
  // Bytes written; fewer than `count` means the write failed (disk full, I/O error).
  int64_t Write(const void* buffer, int64_t count);
  // Writes at `position`, as Write does; the file position afterwards is undefined. A handle
  // written only so may be read with ReadAt on another thread meanwhile (the parts of it that
  // are not being written), on every system.
  int64_t WriteAt(int64_t position, const void* buffer, int64_t count);
  bool Seek(int64_t position);
  int64_t Position() const;  // -1 on error
  int64_t Size() const;      // -1 on error
  std::optional<FileStamp> Stamp() const;  // nullopt on error
  bool Truncate(int64_t size);
  bool Sync();   // flush to stable storage
  // Starts writing the `length` bytes at `position` to storage without waiting for it, so a
  // later Sync() has less left to wait for. Only a hint: nothing where the system has no such
  // call (Windows), and failures are left to Sync() to report.
  void StartWriteBack(int64_t position, int64_t length);
  // The file's last-write time (seconds since the Unix epoch), set through this handle.
  bool SetLastWriteTime(int64_t unixSeconds);
  // DOS attributes through this handle: 0x01 clears all write bits, else the owner may write.
  bool SetDosAttributes(uint32_t attributes);
  // Gives this file, about to replace the file at `replaced` by a rename, that file's permissions
  // (and its owner and group where the process may set them); when no regular file is there
  // (a link is followed), those of `whenNew`. Windows: the folder's inherited access rules apply
  // and nothing is changed.
  bool TakePermissions(const std::string& replaced, NewFileMode whenNew);
  bool Close();  // false when the close reported an error
  const std::error_code& LastError() const { return lastError_; }

 private:
  friend class Folder;       // creates files inside an open folder
  friend class PartialFile;  // Windows: creates its file with delete access
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = -1;
  std::error_code lastError_;
};

}  // namespace kvelv::platform
