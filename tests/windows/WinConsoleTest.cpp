// kvelv.exe as a Windows user runs it: UTF-16 arguments with any character, "\" paths, exit
// codes, the archive name encoding of the Windows code pages, and a clean temporary folder.
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

#include <winternl.h>

#include <string>
#include <vector>

#include "jobs/CryptComponent.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"
#include "tests/support/ConsoleMessages.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using platform::win32::Narrow;
using platform::win32::Widen;
using test::RunKvelv;

uint16_t Word(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

struct CentralName {
  uint16_t versionMadeBy = 0;
  uint16_t flags = 0;
  std::string bytes;
};

// The first central directory record of a ZIP archive.
CentralName FirstCentralName(const std::string& zip) {
  size_t at = zip.find(std::string("PK\x01\x02", 4));
  if (at == std::string::npos || at + 46 > zip.size()) return {};
  return {Word(zip, at + 4), Word(zip, at + 8), zip.substr(at + 46, Word(zip, at + 28))};
}

// The archive inside a container, decrypted with the component directly.
std::string ArchiveOf(const std::string& container, const std::string& password, const std::string& out) {
  auto crypt = CryptComponent::Create();
  crypt->SetCryptAlgorithm("aes");
  crypt->SetCipherMode("cbc");
  crypt->SetKeyBits(256);
  crypt->SetHashAlgorithm("sha256");
  crypt->SetEncodingMode("hex");
  crypt->LoadKey(crypt->DigestTextEncoded(platform::SecretBytes(password)), "hex");
  crypt->LoadIV("35313730383236343339393135303632", "hex");
  if (crypt->DecryptFileTo(container, out) != 1) return {};
  return test::ReadFile(out);
}

class WinConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    // The child inherits a private temporary folder, so leftovers show.
    ASSERT_TRUE(platform::CreateFolders(temp_));
    SetEnvironmentVariableW(L"TMP", Widen(temp_).c_str());
    SetEnvironmentVariableW(L"TEMP", Widen(temp_).c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", saved_.c_str());
    SetEnvironmentVariableW(L"TEMP", saved_.c_str());
  }
  bool TempFolderEmpty() const { return platform::ListFolder(temp_).value().empty(); }

  test::TempDir dir_;
  std::string temp_ = dir_.Join("temp");
  std::wstring saved_ = [] {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"TMP", buffer, MAX_PATH + 1);
    return std::wstring(buffer);
  }();
};

TEST_F(WinConsole, RoundTripWithUnicodeNamesPasswordAndBackslashPaths) {
  const std::string password = "bl\xC3\xA5" "b\xC3\xA6r\xE2\x82\xAC\xE6\xBC\xA2";
  const std::string first = dir_.Join("br\xC3\xB8" "d.txt");
  const std::string second = dir_.Join("\xE2\x82\xAC \xE6\xBC\xA2.txt");
  test::WriteFile(first, "ost og br\xC3\xB8" "d\r\n");
  test::WriteFile(second, std::string(70000, 'k'));
  const std::string container = dir_.Join("s\xC3\xA6kk.kvl");

  auto r = RunKvelv({"-encrypt", "-password=" + password, "-files=" + first + ";" + second, "-to_file=" + container});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(TempFolderEmpty());

  const std::string out = dir_.Join("ut");
  ASSERT_TRUE(platform::CreateFolders(out));
  r = RunKvelv({"-decrypt", "-password=" + password, "-file=" + container, "-to_folder=" + out});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(test::ReadFile(out + "\\br\xC3\xB8" "d.txt"), "ost og br\xC3\xB8" "d\r\n");
  EXPECT_EQ(test::ReadFile(out + "\\\xE2\x82\xAC \xE6\xBC\xA2.txt"), std::string(70000, 'k'));
  EXPECT_TRUE(TempFolderEmpty());

  // Again into the same folder: the files there are replaced.
  test::WriteFile(out + "\\br\xC3\xB8" "d.txt", "older");
  r = RunKvelv({"-decrypt", "-password=" + password, "-file=" + container, "-to_folder=" + out});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(test::ReadFile(out + "\\br\xC3\xB8" "d.txt"), "ost og br\xC3\xB8" "d\r\n");
  EXPECT_EQ(platform::ListFolder(out).value().size(), 2u);
}

// The command line of another process, as any process of the user reads it: from the process's
// own memory (its environment block's copy, which GetCommandLineW returns there).
std::wstring CommandLineOf(HANDLE process) {
  using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION info{};
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  ULONG length = 0;
  if (query == nullptr || query(process, ProcessBasicInformation, &info, sizeof info, &length) < 0 ||
      !ReadProcessMemory(process, info.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
    return {};
  std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(), parameters.CommandLine.Length, nullptr))
    return {};
  return text;
}

TEST_F(WinConsole, ThePasswordLeavesTheCommandLineOtherProcessesRead) {
  const std::string big = dir_.Join("big.bin");
  test::WriteFile(big, std::string(48 << 20, 'x'));
  std::wstring line = L"\"" + Widen(test::KvelvBinary()) + L"\" -encrypt \"-Password=un guess\\able-7f3a\" -files=" +
                      Widen(big) + L" -to_file=" + Widen(dir_.Join("big.kvl"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &child));
  // Once the job has begun (its temporary folder exists), the value is gone from the line.
  bool begun = false;
  while (!begun && WaitForSingleObject(child.hProcess, 2) == WAIT_TIMEOUT) begun = !TempFolderEmpty();
  const std::wstring seen = CommandLineOf(child.hProcess);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_TRUE(begun) << "the job ended before it was looked at";
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(seen.find(L"guess"), std::wstring::npos) << Narrow(seen);
  // The rest of the line is as it was, the value's quotes and backslash kept: one argument still.
  EXPECT_NE(seen.find(L" -encrypt \"-Password=********\\*********\" -files="), std::wstring::npos) << Narrow(seen);
}

TEST_F(WinConsole, WrongPasswordFailsAndLeavesNothing) {
  test::WriteFile(dir_.Join("a.txt"), "a");
  ASSERT_EQ(RunKvelv({"-encrypt", "-password=right", "-files=" + dir_.Join("a.txt"), "-to_file=" + dir_.Join("c.kvl")})
                .exitCode,
            0);
  const std::string out = dir_.Join("ut");
  ASSERT_TRUE(platform::CreateFolders(out));
  auto r = RunKvelv({"-decrypt", "-password=wrong", "-file=" + dir_.Join("c.kvl"), "-to_folder=" + out});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_TRUE(platform::ListFolder(out).value().empty());
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(WinConsole, MissingFileNamesItWithItsCharacters) {
  const std::string missing = dir_.Join("mangler-\xC3\xB8.txt");
  auto r = RunKvelv({"-encrypt", "-password=p", "-files=" + missing, "-to_file=" + dir_.Join("c.kvl")});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, test::MissingFilesItem(missing));
}

TEST_F(WinConsole, ArchiveNamesTakeTheOemOrTheUtf8Road) {
  // brød.txt: "ø" is OEM byte 0x9B, read as code page 1252 that is "›"; bit 11 stays clear.
  test::WriteFile(dir_.Join("br\xC3\xB8" "d.txt"), "x");
  ASSERT_EQ(RunKvelv({"-encrypt", "-password=p",
                      "-files=br\xC3\xB8"
                      "d.txt",
                      "-to_file=oem.kvl"},
                     dir_.Path())
                .exitCode,
            0);
  CentralName oem = FirstCentralName(ArchiveOf(dir_.Join("oem.kvl"), "p", dir_.Join("oem.zip")));
  EXPECT_EQ(oem.bytes, "br\xE2\x80\xBA" "d.txt");
  EXPECT_EQ(oem.flags & 0x0800, 0);
  EXPECT_EQ(oem.versionMadeBy >> 8, 0);

  // €.txt has no OEM form that converts back: UTF-8 bytes, bit 11 set, made by 0x0B2D.
  test::WriteFile(dir_.Join("\xE2\x82\xAC.txt"), "y");
  ASSERT_EQ(RunKvelv({"-encrypt", "-password=p", "-files=\xE2\x82\xAC.txt", "-to_file=utf8.kvl"}, dir_.Path()).exitCode,
            0);
  CentralName utf8 = FirstCentralName(ArchiveOf(dir_.Join("utf8.kvl"), "p", dir_.Join("utf8.zip")));
  EXPECT_EQ(utf8.bytes, "\xE2\x82\xAC.txt");
  EXPECT_EQ(utf8.flags & 0x0800, 0x0800);
  EXPECT_EQ(utf8.versionMadeBy, 0x0B2D);
  EXPECT_TRUE(TempFolderEmpty());
}

}  // namespace
}  // namespace kvelv
