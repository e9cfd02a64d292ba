#pragma once
// Files in the guarded folders of TempGuardian.h, on Windows: each file created in one is opened
// a second time, delete-on-close, by a handle that only the folder's removal closes. The system
// deletes the file when its last handle closes, so it cannot outlive the process, killed or not.
// Every other open of such a file must therefore share deletion.
#include <string>

namespace kvelv::platform::win32 {

// True when `path` names an entry directly inside a guarded folder of this process.
bool InGuardedFolder(const std::wstring& path);
// Opens the delete-on-close handle for the file `path`, just created in a guarded folder; false
// (GetLastError() telling why) when it cannot be opened.
bool KeepUntilFolderRemoved(const std::wstring& path);

}  // namespace kvelv::platform::win32
