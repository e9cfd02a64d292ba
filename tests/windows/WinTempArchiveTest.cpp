// The job's temporary archive on Windows: the system deletes it when its last handle closes, so
// it is gone after the job and after a kill, while readers still open it by name meanwhile (the
// crypto component's rename onto it is WinGuiTest's round trip through the real jobs).
#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "jobs/TempArchive.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"

namespace kvelv {
namespace {

using platform::File;
using platform::OpenMode;
using platform::win32::Widen;

void WriteNew(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  File file = File::Open(path, OpenMode::CreateNew, ec);
  ASSERT_TRUE(file.IsOpen()) << path << ": " << ec.message();
  ASSERT_EQ(file.Write(bytes.data(), static_cast<int64_t>(bytes.size())), static_cast<int64_t>(bytes.size()));
  ASSERT_TRUE(file.Close());
}

TEST(WinTempArchive, OutlivesItsWriterAndNotTheJob) {
  std::string path;
  {
    TempArchive archive;
    path = archive.Path();
    WriteNew(path, "plaintext");
    EXPECT_TRUE(platform::FileExists(path));  // the writer closed; the keeper holds it
    std::error_code ec;
    for (OpenMode mode : {OpenMode::ReadDenyWrite, OpenMode::ReadDenyNone}) {
      File reader = File::Open(path, mode, ec);
      EXPECT_TRUE(reader.IsOpen()) << ec.message();
    }
  }
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_FALSE(platform::FolderExists(platform::FolderPart(path)));
}

TEST(WinTempArchive, AKilledProcessLeavesNoPlaintext) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  std::wstring commandLine = L"HoldTempArchive";
  ASSERT_TRUE(CreateProcessW(Widen(KVELV_HOLD_TEMP_ARCHIVE).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             0, nullptr, nullptr, &startup, &child));
  CloseHandle(outWrite);
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(outRead, &c, 1, &got, nullptr) && got == 1 && c != '\n')
    if (c != '\r') line += c;
  CloseHandle(outRead);

  const bool heldWhileRunning = !line.empty() && platform::FileExists(line);
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_TRUE(heldWhileRunning) << "the helper printed \"" << line << "\"";
  EXPECT_FALSE(platform::FileExists(line));
  // Only the emptied folder may remain; it is not ours to keep.
  platform::RemoveEmptyFolder(platform::FolderPart(line));
}

}  // namespace
}  // namespace kvelv
