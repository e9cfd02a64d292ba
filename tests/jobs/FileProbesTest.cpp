// The shared probes: splitting, temporary archive names, write access and locked files.
#include "jobs/FileProbes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "tests/support/FaultRun.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::ChildLock;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Items = std::vector<std::string>;

TEST(SplitStringTest, KeepsEmptyItemsExceptATrailingOne) {
  EXPECT_EQ(SplitString("a;;b", ";"), (Items{"a", "", "b"}));
  EXPECT_EQ(SplitString(";a", ";"), (Items{"", "a"}));
  EXPECT_EQ(SplitString("a;", ";"), (Items{"a"}));
  EXPECT_EQ(SplitString("a;;", ";"), (Items{"a", ""}));
  EXPECT_EQ(SplitString(";", ";"), (Items{""}));
  EXPECT_EQ(SplitString("", ";"), Items{});
  EXPECT_EQ(SplitString("k=v=w", "="), (Items{"k", "v", "w"}));
  EXPECT_EQ(SplitString("no separator", ";"), (Items{"no separator"}));
  EXPECT_EQ(SplitString(" a ; b ", ";"), (Items{" a ", " b "}));  // not trimmed
}

TEST(SplitStringTest, MatchesLongSeparatorsWholeAndLeftmostFirst) {
  EXPECT_EQ(SplitString("a::b:c", "::"), (Items{"a", "b:c"}));
  EXPECT_EQ(SplitString("a:::b", "::"), (Items{"a", ":b"}));
  EXPECT_EQ(SplitString("aXyb", "xy"), (Items{"aXyb"}));  // case-sensitive
  EXPECT_EQ(SplitString("ab", "abc"), (Items{"ab"}));     // separator longer than the rest
}

TEST(GetTempArchiveNameTest, NamesAFreeFileInTheTempFolderAndLeavesNothing) {
  TempDir dir;
  test::ScopedEnv tmpdir("TMPDIR", dir.Path());
  for (int i = 0; i < 20; ++i) {
    std::string path = GetTempArchiveName(".zip");
    fs::path p(path);
    EXPECT_EQ(p.parent_path(), fs::path(dir.Path()));
    std::string name = p.filename();
    EXPECT_EQ(name.front(), '~') << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".zip") << name;
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
  }
  EXPECT_TRUE(test::ListTree(dir.Path()).empty()) << "a reservation file was left behind";
}

TEST(HasWriteAccessTest, WritableFolderGivesTrueAndNoProbeFileRemains) {
  TempDir dir;
  EXPECT_TRUE(HasWriteAccess(dir.Path()));
  EXPECT_TRUE(HasWriteAccess(dir.Path() + "/"));  // doubled separator is harmless
  EXPECT_TRUE(test::ListTree(dir.Path()).empty());
}

TEST(HasWriteAccessTest, MissingFolderOrAFileGivesFalse) {
  TempDir dir;
  EXPECT_FALSE(HasWriteAccess(dir.Join("missing")));
  // A path below a regular file can be written by nobody, root included.
  WriteFile(dir.Join("plain"), "x");
  EXPECT_FALSE(HasWriteAccess(dir.Join("plain")));
  EXPECT_FALSE(HasWriteAccess(dir.Join("plain/sub")));
  EXPECT_EQ(ReadFile(dir.Join("plain")), "x");
}

// Folder permission bits bind ordinary users only; root may create files in a 0555 folder, and
// the program does not pretend otherwise for folders (only read-only files stay read-only).
TEST(HasWriteAccessTest, ReadOnlyFolderFollowsWhatTheUserMayDo) {
  TempDir dir;
  const std::string folder = dir.Join("sealed");
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);  // regardless of the umask
  if (geteuid() == 0) {
    EXPECT_TRUE(HasWriteAccess(folder)) << "root may write into a 0555 folder";
  } else {
    EXPECT_FALSE(HasWriteAccess(folder));
  }
  chmod(folder.c_str(), 0755);
  EXPECT_TRUE(test::ListTree(folder).empty());
}

TEST(HasWriteAccessTest, ExistingProbeNameIsLeftUntouched) {
  TempDir dir;
  const std::string existing = dir.Join("asdf.asdf");
  const std::string contents("user data\r\nnot ours\0tail", 23);
  WriteFile(existing, contents);
  ASSERT_EQ(chmod(existing.c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(stat(existing.c_str(), &before), 0);

  EXPECT_TRUE(HasWriteAccess(dir.Path()));

  struct stat after {};
  ASSERT_EQ(stat(existing.c_str(), &after), 0);
  EXPECT_EQ(ReadFile(existing), contents);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(test::ListTree(dir.Path()), Items{"asdf.asdf"});
}

TEST(HasWriteAccessTest, ProbeNameHeldByASymlinkIsNotFollowed) {
  TempDir dir;
  const std::string victim = dir.Join("victim");
  WriteFile(victim, "precious");
  ASSERT_EQ(symlink(victim.c_str(), dir.Join("asdf.asdf").c_str()), 0);
  EXPECT_TRUE(HasWriteAccess(dir.Path()));
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_EQ(test::ListTree(dir.Path()).size(), 2u);
}

TEST(IsFileLockedTest, MissingFileAndFolderAreNotLocked) {
  TempDir dir;
  EXPECT_FALSE(IsFileLocked(dir.Join("missing")));
  EXPECT_FALSE(IsFileLocked(dir.Path()));
}

TEST(IsFileLockedTest, ClosedWritableFileIsNotLocked) {
  TempDir dir;
  WriteFile(dir.Join("free"), "data");
  EXPECT_FALSE(IsFileLocked(dir.Join("free")));
  EXPECT_EQ(ReadFile(dir.Join("free")), "data");  // the probe changes nothing
}

TEST(IsFileLockedTest, FileHeldByAnotherProcessIsLocked) {
  TempDir dir;
  const std::string path = dir.Join("held");
  WriteFile(path, "data");
  {
    ChildLock lock(path, /*exclusive=*/true);
    EXPECT_TRUE(IsFileLocked(path));
    EXPECT_TRUE(platform::FileExists(path)) << "a locked file still exists";
  }
  {
    ChildLock lock(path, /*exclusive=*/false);  // a reader that denies writing
    EXPECT_TRUE(IsFileLocked(path));
  }
  EXPECT_FALSE(IsFileLocked(path));
}

// As on Windows, a file that may not be written counts as locked; root included.
TEST(IsFileLockedTest, ReadOnlyFileIsLockedEvenForRoot) {
  TempDir dir;
  const std::string path = dir.Join("readonly");
  WriteFile(path, "data");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(IsFileLocked(path));
}

TEST(FileExistsTest, TrueOnlyForExistingFiles) {
  TempDir dir;
  WriteFile(dir.Join("file"), "");
  EXPECT_TRUE(platform::FileExists(dir.Join("file")));
  EXPECT_FALSE(platform::FileExists(dir.Path()));
  EXPECT_FALSE(platform::FileExists(dir.Join("missing")));
  EXPECT_FALSE(platform::FileExists(""));
  EXPECT_FALSE(platform::FileExists(dir.Join("file/below")));
  ASSERT_EQ(symlink(dir.Join("file").c_str(), dir.Join("link").c_str()), 0);
  EXPECT_TRUE(platform::FileExists(dir.Join("link")));  // symlinks are followed
  ASSERT_EQ(symlink(dir.Join("gone").c_str(), dir.Join("dangling").c_str()), 0);
  EXPECT_FALSE(platform::FileExists(dir.Join("dangling")));
}

}  // namespace
}  // namespace kvelv
