// Helper of WinNamesTest: another program holding a file open the way Windows programs hold
// the documents they have open, sharing nothing. Opens the file named by its argument, prints
// "held" on a line and waits to be killed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
