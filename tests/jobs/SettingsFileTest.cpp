// The settings file: private-profile reading rules, integer forms, CRLF writes that replace the
// file atomically, refused writes, and where the file lives.
#include "jobs/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/FaultRun.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.Join("kvelv.ini"); }
  IniFile WithText(const std::string& text) {
    test::WriteFile(Path(), text);
    return IniFile(Path());
  }
  size_t FilesInFolder() const { return test::ListTree(dir_.Path()).size(); }
  test::TempDir dir_;
};

// --- Reading text ------------------------------------------------------------------------------

TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("Password", "hash", ""), "");
  EXPECT_EQ(ini.ReadString("LastUsedPaths", "FileToEncrypt", "def"), "def");
  EXPECT_EQ(ini.ReadInteger("Placement", "Width", 640), 640);
  EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(SettingsFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
  IniFile ini = WithText("[PASSWORD]\r\nHASH=qj\r\n[placement]\r\nwidth=700\r\n");
  EXPECT_EQ(ini.ReadString("Password", "hash", "x"), "qj");
  EXPECT_EQ(ini.ReadInteger("Placement", "Width", 1), 700);
  EXPECT_EQ(ini.ReadString("Password", "Width", "none"), "none");  // wrong section
}

TEST_F(SettingsFileTest, ValuesAreTrimmedAndLoseOnePairOfQuotes) {
  IniFile ini = WithText(
      "[S]\n"
      "  spaced  =  a b  \n"
      "\tdq=\"  quoted \"\n"
      "sq='single'\n"
      "twice=\"\"x\"\"\n"
      "mixed=\"half'\n"
      "lone=\"\n"
      "inner=a\"b\"c\n"
      "eq=a=b\n");
  EXPECT_EQ(ini.ReadString("S", "spaced", ""), "a b");
  EXPECT_EQ(ini.ReadString("S", "dq", ""), "  quoted ");
  EXPECT_EQ(ini.ReadString("S", "sq", ""), "single");
  EXPECT_EQ(ini.ReadString("S", "twice", ""), "\"x\"");
  EXPECT_EQ(ini.ReadString("S", "mixed", ""), "\"half'");
  EXPECT_EQ(ini.ReadString("S", "lone", ""), "\"");
  EXPECT_EQ(ini.ReadString("S", "inner", ""), "a\"b\"c");
  EXPECT_EQ(ini.ReadString("S", "eq", ""), "a=b");
}

TEST_F(SettingsFileTest, EmptyValueReadsAsEmptyAndSentinelVerbatim) {
  IniFile ini = WithText("[Password]\r\nhash=\r\n[Other]\r\nhash=qj\r\n");
  EXPECT_EQ(ini.ReadString("Password", "hash", ""), "");
  EXPECT_EQ(ini.ReadString("Other", "hash", ""), "qj");
  EXPECT_EQ(ini.ReadString("Other", "HASH", ""), "qj");
}

TEST_F(SettingsFileTest, CommentsBomAndLineEndsAreHandled) {
  IniFile ini = WithText(
      "\xEF\xBB\xBF; leading comment\r\n"
      "[A]\r\n"
      ";key=commented\r\n"
      "  ; key=indented comment\n"
      "no equals sign here\n"
      "key=crlf\r\n"
      "[B]\n"
      "key=lf\n"
      "last=no final line end");
  EXPECT_EQ(ini.ReadString("A", "key", ""), "crlf");
  EXPECT_EQ(ini.ReadString("A", ";key", "none"), "none");
  EXPECT_EQ(ini.ReadString("B", "key", ""), "lf");
  EXPECT_EQ(ini.ReadString("B", "last", ""), "no final line end");
}

TEST_F(SettingsFileTest, Utf8ValuesComeBackUnchanged) {
  IniFile ini = WithText("[LastUsedPaths]\r\nFileToEncrypt=/home/åse/Årsrapport ø.txt\r\n");
  EXPECT_EQ(ini.ReadString("LastUsedPaths", "FileToEncrypt", ""), "/home/åse/Årsrapport ø.txt");
}

TEST_F(SettingsFileTest, ValuesAreCutAt2047Characters) {
  std::string exact(2047, 'a');
  std::string longer(3000, 'b');
  // Two-byte characters count once each and are never split.
  std::string wide;
  for (int i = 0; i < 2100; ++i) wide += "\xC3\xA5";
  IniFile ini = WithText("[S]\r\nexact=" + exact + "\r\nlonger=" + longer + "\r\nwide=" + wide + "\r\n");
  EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
  EXPECT_EQ(ini.ReadString("S", "longer", ""), std::string(2047, 'b'));
  EXPECT_EQ(ini.ReadString("S", "wide", ""), wide.substr(0, 2047 * 2));
}

// --- Reading integers --------------------------------------------------------------------------

TEST_F(SettingsFileTest, IntegersInDecimalAndHexadecimal) {
  IniFile ini = WithText(
      "[P]\r\n"
      "dec=700\r\nneg=-12\r\nplus=+5\r\nhex=0x2BC\r\nHEX=0X2bc\r\ndollar=$2BC\r\nnegdollar=-$10\r\n"
      "max=2147483647\r\nmin=-2147483648\r\nallbits=0xFFFFFFFF\r\n"
      "over=2147483648\r\nunder=-2147483649\r\nhexover=0x100000000\r\n"
      "word=wide\r\nshort=0x\r\ntrailing=12px\r\nblank=\r\ndollaronly=$\r\ninner=1 2\r\n");
  EXPECT_EQ(ini.ReadInteger("P", "dec", 0), 700);
  EXPECT_EQ(ini.ReadInteger("P", "neg", 0), -12);
  EXPECT_EQ(ini.ReadInteger("P", "plus", 0), 5);
  EXPECT_EQ(ini.ReadInteger("P", "hex", 0), 700);
  EXPECT_EQ(ini.ReadInteger("P", "dollar", 0), 700);
  EXPECT_EQ(ini.ReadInteger("P", "negdollar", 0), -16);
  EXPECT_EQ(ini.ReadInteger("P", "max", 0), 2147483647);
  EXPECT_EQ(ini.ReadInteger("P", "min", 0), -2147483647 - 1);
  EXPECT_EQ(ini.ReadInteger("P", "allbits", 0), -1);
  // Key names are case-insensitive, so "HEX" is the same key as "hex": the first wins.
  EXPECT_EQ(ini.ReadInteger("P", "HEX", 0), 700);
  for (const char* bad : {"over", "under", "hexover", "word", "short", "trailing", "blank",
                          "dollaronly", "inner", "missing"}) {
    EXPECT_EQ(ini.ReadInteger("P", bad, 321), 321) << bad;
  }
}

// --- Writing -----------------------------------------------------------------------------------

TEST_F(SettingsFileTest, WritesCreateTheFileWithCrlfAndOnlyTheWrittenSections) {
  IniFile ini(Path());
  ini.WriteInteger("Placement", "Top", 10);
  ini.WriteInteger("Placement", "Left", -20);
  ini.WriteString("LastUsedPaths", "FileToEncrypt", "");
  ini.WriteString("LastUsedPaths", "EncryptToFolder", "/tmp/ut");
  EXPECT_EQ(test::ReadFile(Path()),
            "[Placement]\r\nTop=10\r\nLeft=-20\r\n"
            "[LastUsedPaths]\r\nFileToEncrypt=\r\nEncryptToFolder=/tmp/ut\r\n");
  EXPECT_EQ(ini.ReadString("LastUsedPaths", "FileToEncrypt", "default"), "");
  EXPECT_EQ(ini.ReadInteger("Placement", "Left", 0), -20);
}

TEST_F(SettingsFileTest, WritesReplaceInPlaceAndKeepEverythingElse) {
  IniFile ini = WithText(
      "; installed by hand\n"
      "[Password]\n"
      "hash=abc\n"
      "\n"
      "[placement]\n"
      "  WIDTH = 5\n"
      "Height=6\n"
      "\n"
      "[Other]\n"
      "x=1\n");
  ini.WriteInteger("Placement", "Width", 800);
  ini.WriteInteger("Placement", "Top", 3);
  EXPECT_EQ(test::ReadFile(Path()),
            "; installed by hand\r\n[Password]\r\nhash=abc\r\n\r\n"
            "[placement]\r\nWidth=800\r\nHeight=6\r\nTop=3\r\n\r\n"
            "[Other]\r\nx=1\r\n");
}

TEST_F(SettingsFileTest, ValuesRoundTripExceptLineBreaks) {
  IniFile ini(Path());
  ini.WriteString("S", "path", "/a b/c=d;e.txt");
  ini.WriteString("S", "evil", "first\r\n[Password]\r\nhash=qj");
  EXPECT_EQ(ini.ReadString("S", "path", ""), "/a b/c=d;e.txt");
  EXPECT_EQ(ini.ReadString("S", "evil", ""), "first");
  EXPECT_EQ(ini.ReadString("Password", "hash", "none"), "none");
}

TEST_F(SettingsFileTest, WriteReplacesTheFileAtomically) {
  IniFile ini = WithText("[S]\r\nk=old\r\n");
  // A reader that opened the old file keeps seeing it whole: the new file is a new inode.
  std::ifstream before(Path(), std::ios::binary);
  struct stat oldStat {};
  ASSERT_EQ(stat(Path().c_str(), &oldStat), 0);
  ini.WriteString("S", "k", "new");
  struct stat newStat {};
  ASSERT_EQ(stat(Path().c_str(), &newStat), 0);
  EXPECT_NE(oldStat.st_ino, newStat.st_ino);
  std::string seen((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, "[S]\r\nk=old\r\n");
  EXPECT_EQ(ini.ReadString("S", "k", ""), "new");
  EXPECT_EQ(FilesInFolder(), 1u);  // no temporary file left behind
}

// A settings file installed for all users keeps what makes it readable for them.
TEST_F(SettingsFileTest, WritesKeepTheModeAndWriteThroughALink) {
  for (mode_t mode : {mode_t{0644}, mode_t{0640}}) {
    IniFile ini = WithText("[S]\r\nk=old\r\n");
    chmod(Path().c_str(), mode);
    ini.WriteString("S", "k", "new");
    struct stat st {};
    ASSERT_EQ(stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode);
  }
  const std::string shared = dir_.Join("shared.ini");
  test::WriteFile(shared, "[S]\r\nk=old\r\n");
  fs::remove(Path());
  fs::create_symlink(shared, Path());
  IniFile(Path()).WriteString("S", "k", "through the link");
  EXPECT_TRUE(fs::is_symlink(Path()));
  EXPECT_EQ(IniFile(shared).ReadString("S", "k", ""), "through the link");
  EXPECT_EQ(FilesInFolder(), 2u);
}

// --- Refused writes ----------------------------------------------------------------------------

void ExpectRefused(IniFile& ini) {
  try {
    ini.WriteString("Placement", "Top", "1");
    ADD_FAILURE() << "write to " << ini.FileName() << " was not refused";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini.FileName());
    EXPECT_STREQ(e.ClassName(), "EIniFileException");
  }
}

TEST_F(SettingsFileTest, WriteIntoAMissingFolderIsRefused) {
  IniFile ini(dir_.Join("no/such/folder/kvelv.ini"));
  ExpectRefused(ini);
  EXPECT_FALSE(fs::exists(dir_.Join("no")));
}

TEST_F(SettingsFileTest, WriteBelowARegularFileIsRefused) {
  test::WriteFile(dir_.Join("file"), "x");
  IniFile ini(dir_.Join("file/kvelv.ini"));
  ExpectRefused(ini);
  EXPECT_EQ(test::ReadFile(dir_.Join("file")), "x");
}

TEST_F(SettingsFileTest, ReadOnlyFileIsRefusedEvenForRoot) {
  IniFile ini = WithText("[Placement]\r\nTop=5\r\n");
  fs::permissions(Path(), fs::perms::owner_read | fs::perms::group_read);
  ExpectRefused(ini);
  EXPECT_EQ(test::ReadFile(Path()), "[Placement]\r\nTop=5\r\n");
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(SettingsFileTest, FolderAtTheSettingsPathIsRefused) {
  fs::create_directory(Path());
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("Placement", "Top", "d"), "d");
  ExpectRefused(ini);
}

// --- Where the file lives ----------------------------------------------------------------------

TEST(SettingsFilePath, ExtensionOfTheFileNameIsReplaced) {
  EXPECT_EQ(IniFile::BesideExecutable("/opt/kvelv/kvelv"), "/opt/kvelv/kvelv.ini");
  EXPECT_EQ(IniFile::BesideExecutable("/opt/kvelv/kvelv-gui"), "/opt/kvelv/kvelv-gui.ini");
  EXPECT_EQ(IniFile::BesideExecutable("/opt/kvelv/kvelv.exe"), "/opt/kvelv/kvelv.ini");
  EXPECT_EQ(IniFile::BesideExecutable("/opt/v1.2/kvelv"), "/opt/v1.2/kvelv.ini");
  EXPECT_EQ(IniFile::BesideExecutable("/opt/x.tar.gz"), "/opt/x.tar.ini");
  EXPECT_EQ(IniFile::BesideExecutable("kvelv"), "kvelv.ini");
}

TEST(SettingsFilePath, BesideTheExecutableWhenThatFolderIsWritableOrTheFileExists) {
  test::TempDir dir;
  EXPECT_EQ(IniFile::DefaultPath(dir.Join("kvelv-gui")), dir.Join("kvelv-gui.ini"));
  EXPECT_EQ(fs::directory_iterator(dir.Path()) == fs::directory_iterator(), true);  // probe removed
}

TEST(SettingsFilePath, PerUserFolderWhenTheExecutablesFolderCannotBeWritten) {
  test::TempDir config;
  test::ScopedEnv xdg("XDG_CONFIG_HOME", config.Path());
  // A folder that does not exist cannot be written.
  std::string path = IniFile::DefaultPath(config.Join("gone/bin/kvelv-gui"));
  EXPECT_EQ(path, config.Path() + "/orvkvelv/kvelv-gui.ini");
  EXPECT_TRUE(fs::is_directory(config.Path() + "/orvkvelv"));
  IniFile(path).WriteString("Placement", "Top", "1");
  EXPECT_EQ(IniFile(path).ReadInteger("Placement", "Top", 0), 1);
}

TEST(SettingsFilePath, PerUserFolderFallsBackToHomeConfig) {
  test::TempDir home;
  test::ScopedEnv xdg("XDG_CONFIG_HOME", "");
  test::ScopedEnv homeVar("HOME", home.Path());
  EXPECT_EQ(IniFile::PerUserPath("/usr/bin/kvelv-gui"), home.Path() + "/.config/orvkvelv/kvelv-gui.ini");
}

}  // namespace
}  // namespace kvelv
