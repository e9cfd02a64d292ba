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

// From the first call on, Ctrl-C, Ctrl-Break and the console being closed end the process at
// once with STATUS_CONTROL_C_EXIT, as the system's own handler would (Wine's ends it with 0, which
// a caller would read as success). Ending it closes its handles, and so removes the files held
// for deletion: the guarded folders' files and the partial files (PartialFile.h).
void EndProcessOnConsoleInterrupt();

}  // namespace kvelv::platform::win32
