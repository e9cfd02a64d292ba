// Extraction and verification through ZipReader: archives made by python3's zipfile and Info-ZIP
// zip, hand-made hostile archives, and the legacy-method archives of the shared test data.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/FileSystem.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"
#include "zip/common/DosDateTime.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::ArchiveEntrySpec;
using test::TempDir;

// Names of everything below `folder`, relative, sorted ("sub/" for folders).
// Everything below `folder`; nothing for a folder that is not there.
std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(item.path(), folder).string();
    if (item.is_directory() && !item.is_symlink()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A reader set up as the decrypt job uses it, plus records of its events.
struct Extraction {
  explicit Extraction(const std::string& archive, const std::string& dest) {
    reader.SetZipName(archive);
    reader.SetDestDir(dest);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(UZOverwriteMode::Always);
    reader.OnHandleMessage = [this](int, const std::string& text, const std::string& caption, MessageButtons) {
      messages.push_back(caption + ": " + text);
      return MessageResult::Ok;
    };
    reader.OnSkippingFile = [this](SkipReason reason, bool&, int, const std::string&) { skips.push_back(reason); };
    reader.OnBadCRC = [this](uint32_t, int, uint32_t) { ++badCrcs; };
  }
  ZipReader reader;
  std::vector<std::string> messages;
  std::vector<SkipReason> skips;
  int badCrcs = 0;
};

// An archive entry: a name, its content, and whatever `tweak` makes wrong about it.
ArchiveEntrySpec E(std::string name, std::string content, const std::function<void(ArchiveEntrySpec&)>& tweak = {}) {
  ArchiveEntrySpec e = test::Entry(std::move(name), std::move(content));
  if (tweak) tweak(e);
  return e;
}

class ZipExtractorTest : public ::testing::Test {
 protected:
  // Writes `entries` as an archive in the temporary folder and returns its path.
  std::string Archive(const std::vector<ArchiveEntrySpec>& entries, const std::string& name = "t.zip") {
    std::string path = work_.Join(name);
    test::WriteFile(path, test::MakeArchive(entries));
    return path;
  }
  std::string Dest() const { return work_.Join("out"); }

  TempDir work_;
};

TEST_F(ZipExtractorTest, PythonZipfileArchiveExtractsFlatWithDatesAndVerifies) {
  const std::string archive = work_.Join("py.zip");
  auto result = test::RunProcess("/bin/sh", {"sh", "-c",
      "python3 -c \"import zipfile,sys\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "z.writestr(zipfile.ZipInfo('docs/', (2023, 5, 6, 7, 8, 10)), '')\n"
      "i = zipfile.ZipInfo('docs/a.txt', (2023, 5, 6, 7, 8, 10)); i.compress_type = zipfile.ZIP_DEFLATED\n"
      "z.writestr(i, 'first ' * 5000)\n"
      "z.writestr(zipfile.ZipInfo('b/a.txt', (2022, 1, 2, 3, 4, 6)), 'second')\n"
      "z.writestr(zipfile.ZipInfo('stored.bin', (2021, 12, 31, 23, 59, 58)), bytes(range(256)) * 300)\n"
      "z.close()\" \"$0\"",
      archive});
  ASSERT_EQ(result.exitCode, 0) << result.err;

  Extraction x(archive, Dest());
  EXPECT_TRUE(x.reader.VerifyArchive());
  EXPECT_EQ(x.reader.ExtractAll(), 3);
  // Flat: both a.txt land in DestDir, the later entry wins; the directory entry creates nothing.
  EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"a.txt", "stored.bin"}));
  EXPECT_EQ(test::ReadFile(Dest() + "/a.txt"), "second");
  std::string expected;
  for (int i = 0; i < 300; ++i)
    for (int b = 0; b < 256; ++b) expected += static_cast<char>(b);
  EXPECT_EQ(test::ReadFile(Dest() + "/stored.bin"), expected);

  int64_t seconds = 0;
  ASSERT_TRUE(UnixFromDosDateTime(MakeDosDateTime({2021, 12, 31, 23, 59, 58}), seconds));
  EXPECT_EQ(platform::GetFileInfo(Dest() + "/stored.bin")->lastWriteTime, seconds);
  EXPECT_TRUE(x.messages.empty());
}

TEST_F(ZipExtractorTest, InfoZipArchiveRoundTripsWithRecreateDirs) {
  const std::string source = work_.Join("src");
  ASSERT_TRUE(platform::CreateFolders(source + "/sub/deeper"));
  std::string big;
  for (int i = 0; i < 50000; ++i) big += std::to_string(i * 31 % 977) + ",";
  test::WriteFile(source + "/big.csv", big);
  test::WriteFile(source + "/sub/deeper/note.txt", "hello");
  test::WriteFile(source + "/sub/empty.dat", "");
  const std::string archive = work_.Join("iz.zip");
  auto result = test::RunProcess("/usr/bin/zip", {"zip", "-r", "-q", archive, "."}, source);
  ASSERT_EQ(result.exitCode, 0) << result.err;

  Extraction x(archive, Dest());
  EXPECT_TRUE(x.reader.VerifyArchive());
  x.reader.SetRecreateDirs(true);
  x.reader.ExtractAll();
  EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"big.csv", "sub/", "sub/deeper/", "sub/deeper/note.txt",
                                                    "sub/empty.dat"}));
  EXPECT_EQ(test::ReadFile(Dest() + "/big.csv"), big);
  EXPECT_EQ(test::ReadFile(Dest() + "/sub/deeper/note.txt"), "hello");
  // DOS times have two-second steps.
  auto original = platform::GetFileInfo(source + "/big.csv")->lastWriteTime;
  auto extracted = platform::GetFileInfo(Dest() + "/big.csv")->lastWriteTime;
  EXPECT_LE(std::abs(original - extracted), 2);
}

TEST_F(ZipExtractorTest, VerifyArchiveOnEmptyAndIncompleteFiles) {
  const std::string empty = work_.Join("empty.zip");
  test::WriteFile(empty, "");
  ZipReader reader;
  reader.SetZipName(empty);
  EXPECT_FALSE(reader.VerifyArchive());

  const std::string stub = work_.Join("stub.zip");
  test::WriteFile(stub, "PK\x05\x06 short");
  ZipReader stubReader;
  stubReader.SetZipName(stub);
  EXPECT_THROW(stubReader.VerifyArchive(), EIncompleteZip);
  stubReader.SetDestDir(Dest());
  EXPECT_THROW(stubReader.ExtractAll(), EIncompleteZip);
}

// Reaches the test of one entry, which the class keeps for itself and VerifyArchive.
class OneEntryTester : public ZipReader {
 public:
  using ZipReader::TestEntry;
};

TEST_F(ZipExtractorTest, TestOfOneEntryRemembersItsResult) {
  std::string archive = Archive({E("good.txt", "good"), E("bad.txt", "bad", [](ArchiveEntrySpec& e) { e.crc = 1; })});
  OneEntryTester reader;
  reader.SetZipName(archive);
  reader.ReadDirectory();
  int badCrcs = 0;
  reader.OnBadCRC = [&](uint32_t, int, uint32_t) { ++badCrcs; };
  EXPECT_TRUE(reader.TestEntry(0));
  EXPECT_FALSE(reader.TestEntry(1));
  EXPECT_FALSE(reader.TestEntry(1));  // answered from the mark, not decoded again
  EXPECT_EQ(badCrcs, 1);
  EXPECT_EQ(reader.Entry(0).TestStatus(), 1);
  EXPECT_EQ(reader.Entry(1).TestStatus(), 2);
  EXPECT_FALSE(reader.DoAll());
  EXPECT_FALSE(reader.RecreateDirs());
}

TEST_F(ZipExtractorTest, CrcMismatchDeletesOutputAndFailsVerification) {
  std::string archive = Archive({E("good.txt", "good"),
                                 E("bad.txt", "payload", [](ArchiveEntrySpec& e) { e.method = 8; e.crc = 0x12345678; })});
  Extraction x(archive, Dest());
  EXPECT_FALSE(x.reader.VerifyArchive());
  EXPECT_EQ(x.badCrcs, 1);
  EXPECT_FALSE(fs::exists(Dest()));  // the test pass touches no disk
  EXPECT_EQ(x.reader.ExtractAll(), 1);
  EXPECT_EQ(Tree(Dest()), std::vector<std::string>{"good.txt"});
}

TEST_F(ZipExtractorTest, StoredCrcZeroIsAcceptedButSizeMustMatch) {
  std::string archive = Archive({E("zero.txt", "anything", [](ArchiveEntrySpec& e) { e.crc = 0; }),
                                 E("long.txt", "declared", [](ArchiveEntrySpec& e) { e.data = "declared plus more"; e.crc = 0; })});
  Extraction x(archive, Dest());
  EXPECT_FALSE(x.reader.VerifyArchive());
  EXPECT_EQ(x.reader.ExtractAll(), 1);
  EXPECT_EQ(Tree(Dest()), std::vector<std::string>{"zero.txt"});
  EXPECT_EQ(test::ReadFile(Dest() + "/zero.txt"), "anything");
}

TEST_F(ZipExtractorTest, UnknownMethodIsReportedAndLeavesExistingFileAlone) {
  std::string archive = Archive({E("m12.bin", "whatever", [](ArchiveEntrySpec& e) { e.method = 12; })});
  Extraction x(archive, Dest());
  EXPECT_FALSE(x.reader.VerifyArchive());
  EXPECT_TRUE(x.messages.empty());  // testing says nothing
  ASSERT_TRUE(platform::CreateFolders(Dest()));
  test::WriteFile(Dest() + "/m12.bin", "old");
  EXPECT_EQ(x.reader.ExtractAll(), 0);
  EXPECT_EQ(x.messages, std::vector<std::string>{"Zip Error: Unknown Compression Method"});
  EXPECT_EQ(test::ReadFile(Dest() + "/m12.bin"), "old");
}

TEST_F(ZipExtractorTest, TruncatedEntryRaisesAndLeavesNoPartialFile) {
  std::string content(100000, 'q');
  std::string archive = Archive({E("cut.txt", content, [](ArchiveEntrySpec& e) { e.compressedSize = 200000; })});
  Extraction verify(archive, Dest());
  EXPECT_THROW(verify.reader.VerifyArchive(), EFatalUnzipError);
  Extraction x(archive, Dest());
  try {
    x.reader.ExtractAll();
    FAIL() << "no exception";
  } catch (const EFatalUnzipError& e) {
    EXPECT_STREQ(e.what(), "Premature end of file reached");
  }
  EXPECT_TRUE(Tree(Dest()).empty());
}

TEST_F(ZipExtractorTest, HostileDeclaredSizeAllocatesNothing) {
  // 4 GiB declared, a few bytes present: the output never grows past what arrived.
  std::string archive = Archive({E("huge.bin", "tiny", [](ArchiveEntrySpec& e) { e.uncompressedSize = 0xFFFFFFF0u; })});
  Extraction x(archive, Dest());
  EXPECT_THROW(x.reader.ExtractAll(), EFatalUnzipError);
  EXPECT_TRUE(Tree(Dest()).empty());

  std::string deflated = Archive({E("bomb.bin", std::string(1 << 20, 'z'), [](ArchiveEntrySpec& e) { e.method = 8; e.uncompressedSize = 1000; })}, "bomb.zip");
  Extraction bomb(deflated, Dest());
  EXPECT_FALSE(bomb.reader.VerifyArchive());
  EXPECT_EQ(bomb.reader.ExtractAll(), 0);
  EXPECT_TRUE(Tree(Dest()).empty());
}

TEST_F(ZipExtractorTest, CorruptDeflateRaisesCompressionError) {
  std::string archive = Archive({E("z.bin", "abc", [](ArchiveEntrySpec& e) { e.method = 8; e.data = std::string("\xFF\xFF\xFF", 3); })});
  Extraction x(archive, Dest());
  EXPECT_THROW(x.reader.VerifyArchive(), EZCompressionError);
}

TEST_F(ZipExtractorTest, TraversalNamesStayInsideDestDir) {
  std::vector<ArchiveEntrySpec> entries = {
      E("../up1.txt", "1"),
      E("..\\up2.txt", "2"),
      E("a/../../up3.txt", "3"),
      E("/abs/up4.txt", "4"),
      E("C:\\win\\up5.txt", "5"),
      E("c:up6.txt", "6"),
      E("safe.txt", "7", [](ArchiveEntrySpec& e) { e.centralExtra = test::UnicodePathExtra("safe.txt", "../../up7.txt"); }),
      E(".", "dot"),
      E("..", "dotdot"),
      E("x/..", "dotdot"),
      E("y\\.", "dot"),
  };
  std::string archive = Archive(entries);
  const std::string dest = work_.Join("deep/out");
  // Flat: every file-name part lands directly in DestDir, "." and ".." are not written. "\\" and
  // ":" are ordinary characters of POSIX names: such a name is one file, inside DestDir.
  Extraction flat(archive, dest);
  EXPECT_EQ(flat.reader.ExtractAll(), 8);
  EXPECT_EQ(Tree(work_.Path()),
            (std::vector<std::string>{"deep/", "deep/out/", "deep/out/..\\up2.txt", "deep/out/C:\\win\\up5.txt",
                                      "deep/out/c:up6.txt", "deep/out/up1.txt", "deep/out/up3.txt", "deep/out/up4.txt",
                                      "deep/out/up7.txt", "deep/out/y\\.", "t.zip"}));
  EXPECT_EQ(test::ReadFile(dest + "/up7.txt"), "7");
  fs::remove_all(dest);

  // With folders: absolute folders become subfolders, ".." folders are refused.
  Extraction folders(archive, dest);
  folders.reader.SetRecreateDirs(true);
  EXPECT_EQ(folders.reader.ExtractAll(), 5);
  EXPECT_EQ(Tree(work_.Path()),
            (std::vector<std::string>{"deep/", "deep/out/", "deep/out/..\\up2.txt", "deep/out/C:\\win\\up5.txt",
                                      "deep/out/abs/", "deep/out/abs/up4.txt", "deep/out/c:up6.txt", "deep/out/y\\.",
                                      "t.zip"}));
}

TEST_F(ZipExtractorTest, RecreateDirsKeepsFoldersButRefusesDotDotFolders) {
  std::string archive = Archive({E("docs/", "", [](ArchiveEntrySpec& e) { e.externalAttributes = 0x10; }),
                                 E("docs/sub/a.txt", "a"),
                                 E("docs/../../b.txt", "b"),
                                 E("/abs/c.txt", "c")});
  Extraction x(archive, Dest());
  x.reader.SetRecreateDirs(true);
  EXPECT_EQ(x.reader.ExtractAll(), 3);
  EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"abs/", "abs/c.txt", "docs/", "docs/sub/", "docs/sub/a.txt"}));
  EXPECT_EQ(x.skips, std::vector<SkipReason>{SkipReason::srCreateError});
}

TEST_F(ZipExtractorTest, RelativePathListPrefixIsStrippedFromFolders) {
  std::string archive = Archive({E("Docs/sub/a.txt", "a"), E("other/b.txt", "b")});
  Extraction x(archive, Dest());
  x.reader.SetRecreateDirs(true);
  x.reader.SetRelativePathList({"docs/"});
  EXPECT_EQ(x.reader.ExtractAll(), 2);
  EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"other/", "other/b.txt", "sub/", "sub/a.txt"}));
}

TEST_F(ZipExtractorTest, SymlinkAtOutputPathIsReplacedNotFollowed) {
  const std::string outside = work_.Join("victim.txt");
  test::WriteFile(outside, "unchanged");
  ASSERT_TRUE(platform::CreateFolders(Dest() + "/linkdir"));
  fs::create_symlink(outside, Dest() + "/a.txt");
  fs::create_symlink(work_.Path(), Dest() + "/escape");
  std::string archive = Archive({E("a.txt", "evil"), E("escape/victim.txt", "evil")});
  for (bool recreate : {false, true}) {
    Extraction x(archive, Dest());
    x.reader.SetRecreateDirs(recreate);
    x.reader.ExtractAll();
    EXPECT_EQ(test::ReadFile(outside), "unchanged");
    EXPECT_FALSE(fs::is_symlink(Dest() + "/a.txt"));  // the link itself is replaced
    EXPECT_EQ(test::ReadFile(Dest() + "/a.txt"), "evil");
    EXPECT_TRUE(fs::is_symlink(Dest() + "/escape"));  // and a linked folder never entered
  }
}

TEST_F(ZipExtractorTest, ReadOnlyTargetsStayUnchanged) {
  std::string archive = Archive({E("ro.txt", "new"), E("kept.txt", "data", [](ArchiveEntrySpec& e) { e.externalAttributes = 0x21; })});
  ASSERT_TRUE(platform::CreateFolders(Dest()));
  test::WriteFile(Dest() + "/ro.txt", "old");
  ASSERT_TRUE(platform::SetDosAttributes(Dest() + "/ro.txt", platform::kAttrReadOnly));
  Extraction x(archive, Dest());
  EXPECT_EQ(x.reader.ExtractAll(), 1);
  EXPECT_EQ(test::ReadFile(Dest() + "/ro.txt"), "old");
  EXPECT_EQ(x.skips, std::vector<SkipReason>{SkipReason::srCreateError});
  // The entry marked read-only came out read-only, so a second run leaves it alone too.
  EXPECT_TRUE(platform::GetFileInfo(Dest() + "/kept.txt")->attributes & platform::kAttrReadOnly);
  EXPECT_EQ(x.reader.ExtractAll(), 0);

  Extraction replace(archive, Dest());
  replace.reader.SetReplaceReadOnly(true);
  replace.reader.SetRetainAttributes(false);
  EXPECT_EQ(replace.reader.ExtractAll(), 2);
  EXPECT_EQ(test::ReadFile(Dest() + "/ro.txt"), "new");
}

TEST_F(ZipExtractorTest, OverwriteModesDecideAboutExistingFiles) {
  // Entry dated 2024-03-14; the existing file is older (2000) or newer (now).
  std::string archive = Archive({E("f.txt", "entry")});
  auto prepare = [&](int64_t mtime) {
    ASSERT_TRUE(platform::CreateFolders(Dest()));
    test::WriteFile(Dest() + "/f.txt", "existing");
    ASSERT_TRUE(platform::SetLastWriteTime(Dest() + "/f.txt", mtime));
  };
  const int64_t old = 946728000;  // 2000-01-01
  const int64_t now = platform::NowUnixSeconds();
  struct Case {
    UZOverwriteMode mode;
    int64_t mtime;
    std::string expected;
  };
  for (const Case& c : {Case{UZOverwriteMode::Never, old, "existing"}, Case{UZOverwriteMode::ifNewer, old, "entry"},
                        Case{UZOverwriteMode::ifNewer, now, "existing"}, Case{UZOverwriteMode::ifOlder, old, "existing"},
                        Case{UZOverwriteMode::ifOlder, now, "entry"}, Case{UZOverwriteMode::Prompt, old, "existing"}}) {
    prepare(c.mtime);
    Extraction x(archive, Dest());
    x.reader.SetOverwriteMode(c.mode);
    std::vector<std::string> asked;
    x.reader.OnHandleMessage = [&](int, const std::string& text, const std::string& caption, MessageButtons b) {
      asked.push_back(caption + ": " + text);
      EXPECT_EQ(b, MessageButtons::YesNo);
      return MessageResult::No;
    };
    x.reader.ExtractAll();
    EXPECT_EQ(test::ReadFile(Dest() + "/f.txt"), c.expected) << static_cast<int>(c.mode) << " " << c.mtime;
    if (c.mode == UZOverwriteMode::Prompt) {
      EXPECT_EQ(asked, std::vector<std::string>{"File Exists Alert: Replace existing file f.txt?"});
    }
    if (c.expected == "existing") {
      EXPECT_EQ(x.skips, std::vector<SkipReason>{SkipReason::srNoOverwrite});
    }
  }
  prepare(old);
  Extraction x(archive, Dest());
  x.reader.SetOverwriteMode(UZOverwriteMode::Prompt);
  x.reader.OnPromptForOverwrite = [](bool& replace, const std::string&, int) { replace = true; };
  EXPECT_EQ(x.reader.ExtractAll(), 1);
  EXPECT_EQ(test::ReadFile(Dest() + "/f.txt"), "entry");
}

TEST_F(ZipExtractorTest, FilesListSelectsWithoutDoAllAndIsClearedAfter) {
  std::string archive = Archive({E("docs/a.TXT", "a"), E("b.bin", "b"),
                                 E("c.txt", "c")});
  Extraction x(archive, Dest());
  x.reader.SetDoAll(false);
  x.reader.SetFilesList({"*.txt"});
  EXPECT_EQ(x.reader.ExtractAll(), 2);
  EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"a.TXT", "c.txt"}));
  EXPECT_TRUE(x.reader.FilesList().empty());
  EXPECT_EQ(x.reader.ExtractAll(), 0);

  // "?" is an ordinary folder name here.
  x.reader.SetDestDir(Dest() + "/?");
  x.reader.SetDoAll(true);
  EXPECT_EQ(x.reader.ExtractAll(), 3);
  EXPECT_EQ(Tree(Dest() + "/?"), (std::vector<std::string>{"a.TXT", "b.bin", "c.txt"}));
}

TEST_F(ZipExtractorTest, CancelStopsThePassWithoutLeavingAPartialFile) {
  std::string archive = Archive({E("big.bin", std::string(200000, 'b'), [](ArchiveEntrySpec& e) { e.method = 8; })});
  Extraction x(archive, Dest());
  x.reader.OnFilePercentDone = [&](const std::string&, int) { x.reader.SetCancel(true); };
  EXPECT_THROW(x.reader.ExtractAll(), EUserCanceled);
  EXPECT_TRUE(Tree(Dest()).empty());
  EXPECT_FALSE(x.reader.Cancel());
  EXPECT_FALSE(x.reader.Busy());
}

TEST_F(ZipExtractorTest, EncryptedEntriesAreNeverExtracted) {
  std::string archive = Archive({E("secret.txt", "123456789012plain", [](ArchiveEntrySpec& e) { e.flags = 1; })});
  Extraction x(archive, Dest());
  EXPECT_FALSE(x.reader.VerifyArchive());
  EXPECT_EQ(x.reader.ExtractAll(), 0);
  EXPECT_TRUE(Tree(Dest()).empty());
  EXPECT_EQ(x.skips.back(), SkipReason::srBadPassword);
}

TEST_F(ZipExtractorTest, EveryLegacyArchiveExtractsToTheManifestContents) {
  const std::string dir = test::LegacyArchiveDir();
  if (!fs::exists(dir + "/MANIFEST.tsv")) GTEST_SKIP() << "shared test data not found at " << dir;
  std::map<std::string, std::map<std::string, std::string>> expected;  // archive -> entry -> sha256
  for (const test::ManifestRow& row : test::ReadLegacyManifest()) expected[row.archive][row.entry] = row.sha256;
  ASSERT_EQ(expected.size(), 11u);
  int64_t entryTime = 0;
  ASSERT_TRUE(UnixFromDosDateTime(MakeDosDateTime({2024, 3, 14, 12, 34, 56}), entryTime));
  for (const auto& [archive, entries] : expected) {
    SCOPED_TRACE(archive);
    const std::string out = work_.Join(archive + ".out");
    Extraction x(dir + "/" + archive, out);
    EXPECT_TRUE(x.reader.VerifyArchive());
    EXPECT_EQ(x.reader.ExtractAll(), static_cast<int>(entries.size()));
    for (const auto& [entry, sha] : entries) {
      EXPECT_EQ(test::Sha256Hex(test::ReadFile(out + "/" + entry)), sha) << entry;
      EXPECT_EQ(platform::GetFileInfo(out + "/" + entry)->lastWriteTime, entryTime) << entry;
    }
  }
}

}  // namespace
}  // namespace kvelv
