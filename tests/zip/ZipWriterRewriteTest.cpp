// Packing into an archive that exists already: ZipAction decides which entries are replaced.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

class ZipWriterRewriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = Make("a.txt", "old a", kT1);
    b_ = Make("b.txt", "old b", kT1);
    ASSERT_EQ(Pack({a_, b_}, ZipAction::zaUpdate), 2);
    // a changes and is newer, b changes but keeps an older date, c is new.
    Make("a.txt", "new a", kT2);
    Make("b.txt", "new b", kT0);
    c_ = Make("c.txt", "new c", kT2);
  }
  std::string Make(const std::string& name, const std::string& content, int64_t mtime) {
    const std::string path = dir_.Join(name);
    test::WriteFile(path, content);
    EXPECT_TRUE(platform::SetLastWriteTime(path, mtime));
    return path;
  }
  int Pack(const std::vector<std::string>& items, ZipAction action) {
    ZipWriter writer;
    writer.SetZipName(Archive());
    writer.SetZipAction(action);
    writer.SetTempPath(temp_.Path());
    writer.SetFilesList(items);
    return writer.PackFiles();
  }
  std::string Archive() const { return dir_.Join("out.zip"); }
  // name=content pairs in archive order, read back by python's zipfile (an independent reader).
  std::string Contents() const {
    auto result = test::RunProcess(test::FindProgram("python3"), {"python3", "-c",
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print(' '.join(i.filename + '=' + z.read(i).decode() for i in z.infolist()))\n",
        Archive()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
  }

  static constexpr int64_t kT0 = 1500000000;
  static constexpr int64_t kT1 = 1600000000;
  static constexpr int64_t kT2 = 1700000000;
  test::TempDir dir_;
  test::TempDir temp_;
  std::string a_, b_, c_;
};

TEST_F(ZipWriterRewriteTest, UpdateReplacesOnlyNewerFilesAndAppendsNewOnes) {
  EXPECT_EQ(Pack({a_, b_, c_}, ZipAction::zaUpdate), 2);
  EXPECT_EQ(Contents(), "a.txt=new a b.txt=old b c.txt=new c\n");
  EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
}

TEST_F(ZipWriterRewriteTest, ReplaceReplacesWhateverTheDate) {
  EXPECT_EQ(Pack({b_, c_, a_}, ZipAction::zaReplace), 3);
  // Replaced entries keep their place; new ones follow.
  EXPECT_EQ(Contents(), "a.txt=new a b.txt=new b c.txt=new c\n");
}

TEST_F(ZipWriterRewriteTest, FreshenOnlyRenewsWhatIsThere) {
  EXPECT_EQ(Pack({a_, b_, c_}, ZipAction::zaFreshen), 1);
  EXPECT_EQ(Contents(), "a.txt=new a b.txt=old b\n");
}

TEST_F(ZipWriterRewriteTest, UnchangedFileIsNotRepacked) {
  Make("a.txt", "old a", kT1 + 1);  // same DOS time as packed (two-second steps)
  EXPECT_EQ(Pack({a_}, ZipAction::zaUpdate), 0);
  EXPECT_EQ(Contents(), "a.txt=old a b.txt=old b\n");
}

TEST_F(ZipWriterRewriteTest, CommentAndForeignExtraFieldsSurvive) {
  // An archive from another tool: a comment and extended-timestamp extra fields (0x5455).
  std::filesystem::remove(Archive());
  auto made = test::RunProcess(test::FindProgram("python3"), {"python3", "-c",
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    i = zipfile.ZipInfo('keep.txt', (2020, 1, 2, 3, 4, 6))\n"
      "    i.extra = b'\\x55\\x54\\x05\\x00\\x01\\x00\\x00\\x00\\x00'\n"
      "    z.writestr(i, 'kept')\n"
      "    z.comment = b'the comment'\n",
      Archive()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(Pack({c_}, ZipAction::zaUpdate), 1);
  EXPECT_EQ(Contents(), "keep.txt=kept c.txt=new c\n");
  const auto central = test::ReadCentralViews(Archive());
  EXPECT_EQ(test::ExtraFields(central[0].extra).count(0x5455), 1u);
  const auto end = test::ReadEndRecordView(Archive());
  EXPECT_EQ(end.commentLength, 11);
  EXPECT_EQ(test::ReadFileRange(Archive(), end.position + 22, 11), "the comment");
  EXPECT_EQ(end.totalEntries, 2);
}

TEST_F(ZipWriterRewriteTest, OneWriterRewritingTwiceKeepsForeignExtraFields) {
  std::filesystem::remove(Archive());
  auto made = test::RunProcess(test::FindProgram("python3"), {"python3", "-c",
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    i = zipfile.ZipInfo('keep.txt', (2020, 1, 2, 3, 4, 6))\n"
      "    i.extra = b'\\x55\\x54\\x05\\x00\\x01\\x00\\x00\\x00\\x00'\n"
      "    z.writestr(i, 'kept')\n",
      Archive()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ZipWriter writer;
  writer.SetZipName(Archive());
  writer.SetTempPath(temp_.Path());
  writer.SetFilesList({a_});
  EXPECT_EQ(writer.PackFiles(), 1);
  // The old entry moved; the second pass must find its extra field where it is now.
  writer.SetFilesList({c_});
  EXPECT_EQ(writer.PackFiles(), 1);
  EXPECT_EQ(Contents(), "keep.txt=kept a.txt=new a c.txt=new c\n");
  EXPECT_EQ(test::ExtraFields(test::ReadCentralViews(Archive())[0].extra).at(0x5455), std::string("\x01\x00\x00\x00\x00", 5));
}

TEST_F(ZipWriterRewriteTest, FailedRewriteLeavesTheArchiveUntouched) {
  const std::string before = test::ReadFile(Archive());
  if (platform::FileExists("/proc/self/mem")) {
    EXPECT_THROW(Pack({c_, "/proc/self/mem"}, ZipAction::zaUpdate), EZipException);
    EXPECT_EQ(test::ReadFile(Archive()), before);
    EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
  }
  ZipWriter writer;
  writer.SetZipName(Archive());
  writer.SetTempPath(temp_.Path());
  writer.SetFilesList({c_});
  writer.OnProcessMessages = [&] { writer.SetCancel(true); };
  EXPECT_THROW(writer.PackFiles(), EUserCanceled);
  EXPECT_EQ(test::ReadFile(Archive()), before);
  EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
}

TEST_F(ZipWriterRewriteTest, AFileThatIsNoArchiveIsNotOverwritten) {
  test::WriteFile(Archive(), "this is a letter, not an archive; it must survive the writer");
  EXPECT_THROW(Pack({c_}, ZipAction::zaUpdate), EZipException);
  EXPECT_EQ(test::ReadFile(Archive()), "this is a letter, not an archive; it must survive the writer");
  EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
}

TEST_F(ZipWriterRewriteTest, TemporaryFileOnAnotherFolderIsCopiedIn) {
  // /dev/shm is usually another file system, which forces the copy instead of the rename.
  if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  ZipWriter writer;
  writer.SetZipName(Archive());
  writer.SetTempPath("/dev/shm");
  writer.SetFilesList({c_});
  EXPECT_EQ(writer.PackFiles(), 1);
  EXPECT_EQ(Contents(), "a.txt=old a b.txt=old b c.txt=new c\n");
  EXPECT_FALSE(std::filesystem::exists(Archive() + "$$$"));
}

}  // namespace
}  // namespace kvelv
