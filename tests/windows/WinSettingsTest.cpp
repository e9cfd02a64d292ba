// The settings file through the private-profile functions: what the system functions read is
// what the program wrote, and the reading rules hold for files written by hand.
#include <gtest/gtest.h>

#include "jobs/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

std::string SystemRead(const std::string& path, const std::string& section, const std::string& key) {
  wchar_t buffer[256] = {};
  DWORD length = GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), L"<none>", buffer, 256,
                                          Widen(path).c_str());
  return Narrow(std::wstring(buffer, length));
}

class WinSettings : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string path_ = dir_.Join("kvelv.ini");
};

TEST_F(WinSettings, WrittenValuesAreWhatTheSystemReads) {
  IniFile ini(path_);
  const std::string value = "C:\\Brukere\\\xC3\x85se\\Dokumenter \xE2\x82\xAC";
  ini.WriteString("Settings", "LastFolder", value);
  ini.WriteInteger("Settings", "Left", -12);
  EXPECT_EQ(SystemRead(path_, "settings", "lastfolder"), value);
  EXPECT_EQ(ini.ReadString("SETTINGS", "LastFolder", "x"), value);
  EXPECT_EQ(ini.ReadInteger("Settings", "Left", 0), -12);
  // A new file is UTF-16 with a byte-order mark, so every character is kept.
  EXPECT_EQ(test::ReadFile(path_).substr(0, 2), "\xFF\xFE");
  ini.WriteString("Settings", "LastFolder", "second");
  EXPECT_EQ(ini.ReadString("Settings", "LastFolder", "x"), "second");
}

TEST_F(WinSettings, HandWrittenFilesFollowTheReadingRules) {
  test::WriteFile(path_,
                  "; comment\r\n"
                  "[Login]\r\n"
                  "  Hash =  \"kAFQmDzST7DWlj99KOF/cg==\"  \r\n"
                  "Empty=\r\n"
                  "Number=0x1F\r\n"
                  "[Other]\n"
                  "Hash=other\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("login", "HASH", "default"), "kAFQmDzST7DWlj99KOF/cg==");
  EXPECT_EQ(ini.ReadString("Login", "Empty", "default"), "");
  EXPECT_EQ(ini.ReadString("Login", "Missing", "default"), "default");
  EXPECT_EQ(ini.ReadString("Nowhere", "Hash", "default"), "default");
  EXPECT_EQ(ini.ReadInteger("Login", "Number", 0), 31);
  EXPECT_EQ(ini.ReadString("Other", "Hash", ""), "other");
  EXPECT_EQ(IniFile(dir_.Join("absent.ini")).ReadString("Login", "Hash", "d"), "d");
}

TEST_F(WinSettings, ReadOnlyFileRefusesWrites) {
  test::WriteFile(path_, "[A]\r\nB=1\r\n");
  ASSERT_TRUE(platform::SetDosAttributes(path_, platform::kAttrReadOnly));
  IniFile ini(path_);
  EXPECT_THROW(ini.WriteString("A", "B", "2"), EIniFileException);
  EXPECT_EQ(ini.ReadString("A", "B", ""), "1");
  EXPECT_THROW(IniFile(dir_.Path()).WriteString("A", "B", "2"), EIniFileException);
}

TEST_F(WinSettings, PathBesideTheExecutableOrInTheUsersAppData) {
  EXPECT_EQ(IniFile::BesideExecutable("C:\\Program Files\\Orv Kvelv\\kvelv.exe"),
            "C:\\Program Files\\Orv Kvelv\\kvelv.ini");
  wchar_t saved[MAX_PATH + 1] = {};
  GetEnvironmentVariableW(L"APPDATA", saved, MAX_PATH + 1);
  SetEnvironmentVariableW(L"APPDATA", Widen(dir_.Path() + "\\").c_str());
  EXPECT_EQ(IniFile::PerUserPath("C:\\Program Files\\Orv Kvelv\\kvelv-gui.exe"),
            dir_.Path() + "\\orvkvelv\\kvelv-gui.ini");
  SetEnvironmentVariableW(L"APPDATA", saved);
}

}  // namespace
}  // namespace kvelv
