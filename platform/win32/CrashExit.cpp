// Without a filter of ours, a fault on a worker thread goes to the system's last handler: under
// Wine that starts a debugger and the process has been seen to end with exit code 0, and an
// exception code seen through a POSIX wait is cut to its last byte (0xC0000005 reads as 5, the
// code for a missing input file).
#include "platform/CrashExit.h"

#include <algorithm>
#include <cstdio>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

int gExitCode = 1;

// Runs on the faulting thread, with the heap possibly damaged: it formats into a stack buffer,
// writes with one system call and ends the process without running any more of its code.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  char text[200];
  const EXCEPTION_RECORD* record = info != nullptr ? info->ExceptionRecord : nullptr;
  int length = 0;
  if (record == nullptr) {
    length = std::snprintf(text, sizeof text, "EExternalException: External exception\r\n");
  } else if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    const char* access = record->ExceptionInformation[0] == 0   ? "Read"
                         : record->ExceptionInformation[0] == 8 ? "Execution"
                                                                 : "Write";
    length = std::snprintf(text, sizeof text,
                           "EAccessViolation: Access violation at address %p. %s of address %p\r\n",
                           record->ExceptionAddress, access,
                           reinterpret_cast<void*>(record->ExceptionInformation[1]));
  } else {
    length = std::snprintf(text, sizeof text, "EExternalException: External exception %08lX at address %p\r\n",
                           static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress);
  }
  if (length > 0) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::min<int>(length, sizeof text - 1)),
              &written, nullptr);
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(gExitCode));
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void EndProcessOnCrash(int exitCode) {
  gExitCode = exitCode;
  SetUnhandledExceptionFilter(OnUnhandledException);
  // No error dialog or debugger for a fault our filter does not see first.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace kvelv::platform
