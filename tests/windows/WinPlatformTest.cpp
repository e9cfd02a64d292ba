// The Win32 OS layer on the real Windows facilities: code pages, share modes, attributes and
// times, temporary names, UTF-16 file names, the exit code of a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>

#include "jobs/FileProbes.h"
#include "platform/CodePages.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/LocalTime.h"
#include "platform/TempFiles.h"
#include "platform/win32/WinApi.h"
#include "tests/support/TestSupport.h"
#include "tests/windows/support/HeldFile.h"

namespace kvelv {
namespace {

using platform::File;
using platform::OpenMode;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  auto entries = platform::ListFolder(folder);
  if (!entries) return {"<cannot list " + folder + ">"};
  for (const auto& entry : *entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WinCodePages, SystemCodePagesAreWesternEuropean) {
  // The Wine locale of the test run decides these; everything below assumes them.
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(GetOEMCP(), 850u);
}

TEST(WinCodePages, ConvertsThroughTheSystemTables) {
  EXPECT_EQ(platform::OemFromUtf8("br\xC3\xB8" "d"), "br\x9B" "d");
  EXPECT_EQ(platform::AnsiFromUtf8("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(platform::Utf8FromAnsi("\x9B"), "\xE2\x80\xBA");  // OEM "ø" read as ANSI is "›"
  EXPECT_EQ(platform::Utf8FromOem("\x9B"), "\xC3\xB8");
  bool mapped = true;
  EXPECT_EQ(platform::AnsiFromUtf8("\xE6\xBC\xA2", &mapped), "?");
  EXPECT_FALSE(mapped);
  // No best-fit look-alikes: "Ā" has no byte of its own.
  EXPECT_EQ(platform::AnsiFromUtf8("\xC4\x80", &mapped), "?");
  EXPECT_FALSE(mapped);
  EXPECT_EQ(platform::AnsiFromUtf8("bl\xC3\xA5", &mapped), "bl\xE5");
  EXPECT_TRUE(mapped);
}

TEST(WinCodePages, CharacterToOemAndBack) {
  EXPECT_EQ(platform::OemFromAnsi("br\xF8" "d"), "br\x9B" "d");
  EXPECT_EQ(platform::AnsiFromOem("br\x9B" "d"), "br\xF8" "d");
  // The OEM road of archive names: OEM bytes read as ANSI must come back unchanged.
  for (const char* name : {"\xC3\x85rsrapport.txt", "\xC3\x98l.txt", "\xC3\x89t\xC3\xA9.txt", "\xC3\xBC\xC3\xAC"}) {
    std::string oem = platform::OemFromAnsi(platform::AnsiFromUtf8(name));
    std::string viaAnsi = platform::Utf8FromAnsi(oem);
    EXPECT_EQ(platform::AnsiFromOem(platform::AnsiFromUtf8(viaAnsi)), platform::AnsiFromUtf8(name)) << name;
  }
}

TEST(WinPaths, BackslashIsTheSeparator) {
  EXPECT_EQ(platform::kSeparator, '\\');
  EXPECT_EQ(platform::FileNamePart("C:\\data\\r\xC3\xB8" "d.txt"), "r\xC3\xB8" "d.txt");
  EXPECT_EQ(platform::FolderPart("C:\\data\\file.txt"), "C:\\data");
  EXPECT_EQ(platform::FileNamePart("C:/data/file.txt"), "file.txt");
}

// The address comes from outside what the compiler can see, so the store below really faults.
volatile uintptr_t gUnmappedAddress = 16;

TEST(WinCrashDeathTest, AFaultOnAWorkerThreadEndsTheProcessWithCodeOne) {
  // The test programs' main installs the same handler as the console build's.
  EXPECT_EXIT(std::thread([] { *reinterpret_cast<volatile int*>(gUnmappedAddress) = 1; }).join(),
              testing::ExitedWithCode(1), R"(EAccessViolation: Access violation at address \w+\. Write of address \w+)");
}

TEST(WinLocalTime, CalendarTimesRoundTripThroughTheTimeZone) {
  for (int64_t t : {int64_t{315532800}, int64_t{1700000000}, int64_t{1719792000}, int64_t{4102444799}}) {
    platform::LocalDateTime local = platform::ToLocal(t);
    int64_t back = 0;
    ASSERT_TRUE(platform::FromLocal(local, back)) << t;
    EXPECT_EQ(back, t);
  }
  int64_t unused = 0;
  EXPECT_FALSE(platform::FromLocal({2023, 2, 29, 12, 0, 0}, unused));
  EXPECT_FALSE(platform::FromLocal({2023, 13, 1, 0, 0, 0}, unused));
}

class WinFiles : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(WinFiles, NonAsciiNamesSurviveTheRoundTrip) {
  const std::string name = "bl\xC3\xA5" "b\xC3\xA6r \xE2\x82\xAC \xE6\xBC\xA2.txt";
  std::error_code ec;
  File file = File::Open(dir_.Join(name), OpenMode::CreateNew, ec);
  ASSERT_TRUE(file.IsOpen()) << ec.message();
  EXPECT_EQ(file.Write("abc", 3), 3);
  file.Close();
  EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{name});
  auto info = platform::GetFileInfo(dir_.Join(name));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, 3);
  EXPECT_EQ(info->name, name);
}

TEST_F(WinFiles, ShareModesRefuseWhatTheHolderDenies) {
  const std::string path = dir_.Join("held.txt");
  test::WriteFile(path, "data");
  std::error_code ec;
  {
    File exclusive = File::Open(path, OpenMode::ReadWriteDenyAll, ec);
    ASSERT_TRUE(exclusive.IsOpen());
    File reader = File::Open(path, OpenMode::ReadDenyNone, ec);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(ec, std::errc::device_or_resource_busy);
  }
  {
    File denyWrite = File::Open(path, OpenMode::ReadDenyWrite, ec);
    ASSERT_TRUE(denyWrite.IsOpen());
    File secondReader = File::Open(path, OpenMode::ReadDenyWrite, ec);
    EXPECT_TRUE(secondReader.IsOpen());
    File writer = File::Open(path, OpenMode::ReadWriteDenyAll, ec);
    EXPECT_FALSE(writer.IsOpen());
  }
  {
    File denyNone = File::Open(path, OpenMode::ReadDenyNone, ec);
    ASSERT_TRUE(denyNone.IsOpen());
    File writer = File::Open(path, OpenMode::WriteExisting, ec);
    EXPECT_TRUE(writer.IsOpen());
  }
}

TEST_F(WinFiles, IsFileLockedSeesAHandleWithoutSharing) {
  const std::string path = dir_.Join("locked.txt");
  test::WriteFile(path, "data");
  EXPECT_FALSE(IsFileLocked(path));
  {
    test::HeldFile held(path, 0);
    EXPECT_TRUE(IsFileLocked(path));
  }
  {
    // Opening without sharing fails while any other handle is open, even a sharing one.
    test::HeldFile held(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_TRUE(IsFileLocked(path));
  }
  EXPECT_FALSE(IsFileLocked(path));
  EXPECT_FALSE(IsFileLocked(dir_.Join("missing.txt")));
}

TEST_F(WinFiles, ReadAtReadsAnywhereAndStopsAtTheEnd) {
  const std::string path = dir_.Join("blocks.bin");
  test::WriteFile(path, "0123456789abcdef");
  std::error_code ec;
  File file = File::Open(path, OpenMode::ReadDenyNone, ec);
  ASSERT_TRUE(file.IsOpen()) << ec.message();
  char buffer[8] = {};
  EXPECT_EQ(file.ReadAt(10, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(file.ReadAt(12, buffer, 8), 4);
  EXPECT_EQ(file.ReadAt(40, buffer, 8), 0);
  EXPECT_EQ(file.ReadAt(3, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "34");
}

TEST_F(WinFiles, ReadOnlyAttributeRefusesWriting) {
  const std::string path = dir_.Join("ro.txt");
  test::WriteFile(path, "keep");
  ASSERT_TRUE(platform::SetDosAttributes(path, platform::kAttrReadOnly));
  EXPECT_NE(platform::GetFileInfo(path)->attributes & platform::kAttrReadOnly, 0u);
  std::error_code ec;
  EXPECT_FALSE(File::Open(path, OpenMode::CreateAlways, ec).IsOpen());
  EXPECT_EQ(ec, std::errc::permission_denied);
  EXPECT_TRUE(IsFileLocked(path));
  ASSERT_TRUE(platform::SetDosAttributes(path, 0));
  EXPECT_EQ(platform::GetFileInfo(path)->attributes & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(test::ReadFile(path), "keep");
}

TEST_F(WinFiles, AttributesAndTimesComeFromTheFileSystem) {
  const std::string path = dir_.Join("hidden.txt");
  test::WriteFile(path, "x");
  ASSERT_TRUE(SetFileAttributesW(platform::win32::Widen(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
  auto info = platform::GetFileInfo(path);
  ASSERT_TRUE(info);
  EXPECT_NE(info->attributes & platform::kAttrHidden, 0u);
  EXPECT_EQ(info->attributes & platform::kAttrFolder, 0u);
  EXPECT_TRUE(platform::GetFileInfo(dir_.Path())->IsFolder());

  const int64_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
  ASSERT_TRUE(platform::SetLastWriteTime(path, when));
  EXPECT_EQ(platform::GetFileInfo(path)->lastWriteTime, when);
}

TEST_F(WinFiles, CreateAlwaysTruncatesAndRemovesNothingItDidNotCreate) {
  const std::string path = dir_.Join("out.bin");
  test::WriteFile(path, "old content");
  std::error_code ec;
  {
    File file = File::Open(path, OpenMode::CreateAlways, ec);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Write("new", 3), 3);
    EXPECT_TRUE(file.Truncate(1));
    EXPECT_EQ(file.Position(), 3);
  }
  EXPECT_EQ(test::ReadFile(path), "n");
  EXPECT_FALSE(File::Open(dir_.Path(), OpenMode::ReadDenyNone, ec).IsOpen());
  EXPECT_EQ(ec, std::errc::is_a_directory);
}

TEST_F(WinFiles, RenameReplacesAndDeleteRefusesFolders) {
  test::WriteFile(dir_.Join("a.txt"), "A");
  test::WriteFile(dir_.Join("b.txt"), "B");
  EXPECT_TRUE(platform::RenameFile(dir_.Join("a.txt"), dir_.Join("b.txt")));
  EXPECT_EQ(test::ReadFile(dir_.Join("b.txt")), "A");
  test::WriteFile(dir_.Join("c.txt"), "C");
  std::error_code ec;
  const platform::Folder folder = platform::Folder::Open(dir_.Path(), ec);
  EXPECT_FALSE(folder.RenameToNewName("c.txt", folder, "b.txt", ec));  // to a new name only
  EXPECT_EQ(ec, std::errc::file_exists);
  EXPECT_EQ(test::ReadFile(dir_.Join("b.txt")), "A");
  EXPECT_TRUE(folder.RenameToNewName("c.txt", folder, "d.txt", ec));
  EXPECT_EQ(test::ReadFile(dir_.Join("d.txt")), "C");
  EXPECT_FALSE(platform::DeleteFile(dir_.Path()));
  EXPECT_TRUE(platform::CreateFolders(dir_.Join("x\\y\\z")));
  EXPECT_TRUE(platform::FolderExists(dir_.Join("x\\y")));
}

TEST(WinPaths, EveryPathReachesTheSystemFullAndExtended) {
  const std::string current = platform::CurrentFolder();
  const std::string extendedCurrent = platform::win32::Narrow(platform::win32::WidePath("."));
  EXPECT_EQ(extendedCurrent, "\\\\?\\" + current);
  EXPECT_EQ(platform::win32::Narrow(platform::win32::WidePath("sub/f.txt. ")), extendedCurrent + "\\sub\\f.txt");
  EXPECT_TRUE(platform::win32::IsDevicePath(platform::win32::WidePath("CON")));
  EXPECT_FALSE(platform::FileExists("CON"));
  EXPECT_FALSE(platform::FileExists("aux.txt"));
}

TEST_F(WinFiles, TemporaryNamesLeaveNothingBehind) {
  wchar_t system[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, system);
  EXPECT_EQ(platform::TempFolder(), platform::win32::Narrow(system));
  EXPECT_EQ(platform::TempFolder().back(), '\\');

  // GetTempFileNameW reserves a file; the name is kept, the reservation removed.
  std::string name = platform::UniqueName(dir_.Path(), ".zip");
  EXPECT_EQ(platform::FolderPart(name), dir_.Path());
  EXPECT_EQ(platform::FileNamePart(name).front(), '~');
  EXPECT_EQ(name.substr(name.size() - 4), ".zip");
  EXPECT_TRUE(Names(dir_.Path()).empty());

  std::string path;
  std::error_code ec;
  File file = platform::CreateUniqueFile(dir_.Path(), ".tmp", path, ec);
  ASSERT_TRUE(file.IsOpen()) << ec.message();
  EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{platform::FileNamePart(path)});
  // Opened without sharing: nobody else gets in while it is being written.
  EXPECT_TRUE(IsFileLocked(path));
}

}  // namespace
}  // namespace kvelv
