// Windows: the file is created with delete access and marked for deletion at once (a pending
// delete, FileDispositionInfo); its handle still reads and writes, nobody else can open it, and
// the system deletes it when the handle closes, whatever ends the process (Ctrl-C, Ctrl-Break,
// the console closed: see GuardedFiles.h; TerminateProcess). Commit() lifts the mark, closes the
// file and renames it.
#include "platform/PartialFile.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "platform/win32/GuardedFiles.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

using win32::SetDeleteDisposition;

PartialFile PartialFile::Create(const std::string& folder, const std::string& extension, std::error_code& ec) {
  win32::EndProcessOnConsoleInterrupt();
  PartialFile partial;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = RandomTempName(folder, extension);
    HANDLE handle = CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      ec = win32::ErrorFromWin32(GetLastError());
      if (ec == std::errc::file_exists) continue;
      return partial;
    }
    ec.clear();
    partial.file_ = File(reinterpret_cast<intptr_t>(handle));
    partial.name_ = FileNamePart(path);
    partial.path_ = path;
    // Where the file system cannot hold a pending delete, only the owner's ways out remove it.
    partial.ticket_ = SetDeleteDisposition(handle, true) ? 1 : 0;
    return partial;
  }
  return partial;
}

bool PartialFile::Commit(const std::string& target, std::error_code& ec) {
  ec.clear();
  if (name_.empty() || !file_.IsOpen()) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    Remove();
    return false;
  }
  if (ticket_ != 0 && !SetDeleteDisposition(reinterpret_cast<HANDLE>(file_.handle_), false)) {
    ec = win32::ErrorFromWin32(GetLastError());
  } else {
    ticket_ = 0;
    if (!file_.Close()) {
      ec = file_.LastError();
    } else if (!RenameFile(path_, target)) {
      ec = win32::ErrorFromWin32(GetLastError());
    }
  }
  if (ec) {
    Remove();
    return false;
  }
  name_.clear();
  return true;
}

void PartialFile::Remove() {
  // With the pending delete, closing removes the file; DeleteFileW covers the rest.
  if (file_.IsOpen()) file_.Close();
  if (!name_.empty() && ticket_ == 0) DeleteFileW(win32::WidePath(path_).c_str());
  name_.clear();
  ticket_ = 0;
}

}  // namespace kvelv::platform
