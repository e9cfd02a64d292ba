// Helper of WinTempArchiveTest: makes a job's temporary archive, writes plaintext into it the
// way the archive writer does, prints its path on a line and then waits to be killed.
#include <windows.h>

#include <cstdio>
#include <system_error>

#include "jobs/TempArchive.h"
#include "platform/File.h"

int main() {
  kvelv::TempArchive archive;
  std::error_code ec;
  kvelv::platform::File file =
      kvelv::platform::File::Open(archive.Path(), kvelv::platform::OpenMode::CreateNew, ec);
  static const char kPlaintext[] = "plaintext that must not outlive the process";
  if (!file.IsOpen() || file.Write(kPlaintext, sizeof kPlaintext) != sizeof kPlaintext || !file.Close())
    return 2;
  std::printf("%s\n", archive.Path().c_str());
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
