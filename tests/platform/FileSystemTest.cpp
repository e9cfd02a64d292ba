// DOS attributes, listings, times and path parts as the archive code sees them.
#include "platform/FileSystem.h"
#include "platform/Folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include "tests/support/TestSupport.h"

namespace kvelv::platform {
namespace {

using test::TempDir;
using test::WriteFile;

mode_t PermissionsOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mode & 0777;
}

TEST(FileSystemTest, AttributesFollowTheDosMeaning) {
  TempDir dir;
  WriteFile(dir.Join("plain.txt"), "12345");
  WriteFile(dir.Join(".hidden"), "");
  WriteFile(dir.Join("locked.txt"), "");
  ASSERT_EQ(chmod(dir.Join("locked.txt").c_str(), 0444), 0);
  ASSERT_EQ(mkdir(dir.Join("sub").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(dir.Join("pipe").c_str(), 0644), 0);

  auto plain = GetFileInfo(dir.Join("plain.txt"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->name, "plain.txt");
  EXPECT_EQ(plain->attributes, kAttrArchive);
  EXPECT_EQ(plain->size, 5);
  EXPECT_FALSE(plain->IsFolder());
  EXPECT_EQ(GetFileInfo(dir.Join(".hidden"))->attributes, kAttrArchive | kAttrHidden);
  EXPECT_EQ(GetFileInfo(dir.Join("locked.txt"))->attributes, kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(GetFileInfo(dir.Join("sub"))->attributes, kAttrFolder);
  EXPECT_TRUE(GetFileInfo(dir.Join("sub"))->IsFolder());
  EXPECT_EQ(GetFileInfo(dir.Join("pipe"))->attributes, kAttrSystem);
  EXPECT_FALSE(GetFileInfo(dir.Join("missing")));
  EXPECT_FALSE(GetFileInfo(""));
}

TEST(FileSystemTest, ListFolderGivesEveryEntryButDotAndDotDot) {
  TempDir dir;
  WriteFile(dir.Join("a"), "x");
  WriteFile(dir.Join(".b"), "");
  ASSERT_EQ(mkdir(dir.Join("c").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.Join("a").c_str(), dir.Join("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.Join("gone").c_str(), dir.Join("dangling").c_str()), 0);

  auto entries = ListFolder(dir.Path());
  ASSERT_TRUE(entries);
  std::map<std::string, uint32_t> byName;
  for (const auto& e : *entries) byName[e.name] = e.attributes;
  EXPECT_EQ(byName.size(), 5u);
  EXPECT_EQ(byName["a"], kAttrArchive);
  EXPECT_EQ(byName[".b"], kAttrArchive | kAttrHidden);
  EXPECT_EQ(byName["c"], kAttrFolder);
  EXPECT_EQ(byName["link"], kAttrArchive);       // followed
  EXPECT_EQ(byName["dangling"] & kAttrSystem, kAttrSystem);  // neither file nor folder
  EXPECT_FALSE(ListFolder(dir.Join("missing")));
  EXPECT_FALSE(ListFolder(dir.Join("a")));
}

TEST(FileSystemTest, ReadOnlyAttributeClearsAndRestoresWriteBits) {
  TempDir dir;
  const std::string path = dir.Join("f");
  WriteFile(path, "");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_TRUE(SetDosAttributes(path, kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(PermissionsOf(path), 0444u);
  EXPECT_EQ(GetFileInfo(path)->attributes & kAttrReadOnly, kAttrReadOnly);
  ASSERT_TRUE(SetDosAttributes(path, kAttrArchive | kAttrHidden | kAttrSystem));  // only 0x01 counts
  EXPECT_EQ(PermissionsOf(path), 0644u);
  EXPECT_FALSE(SetDosAttributes(dir.Join("missing"), kAttrArchive));
}

TEST(FileSystemTest, LastWriteTimeIsSetAndReadBack) {
  TempDir dir;
  const std::string path = dir.Join("f");
  WriteFile(path, "");
  ASSERT_TRUE(SetLastWriteTime(path, 1000000000));
  EXPECT_EQ(GetFileInfo(path)->lastWriteTime, 1000000000);
  ASSERT_TRUE(SetLastWriteTime(path, 315532800));  // 1980-01-01 UTC, the DOS epoch
  EXPECT_EQ(GetFileInfo(path)->lastWriteTime, 315532800);
  EXPECT_FALSE(SetLastWriteTime(dir.Join("missing"), 0));
}

TEST(FileSystemTest, ExistenceTests) {
  TempDir dir;
  WriteFile(dir.Join("f"), "");
  ASSERT_EQ(symlink(dir.Join("f").c_str(), dir.Join("link").c_str()), 0);
  EXPECT_TRUE(FileExists(dir.Join("f")));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(FolderExists(dir.Path()));
  EXPECT_FALSE(FolderExists(dir.Join("f")));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_TRUE(IsSymlink(dir.Join("link")));
  EXPECT_FALSE(IsSymlink(dir.Join("f")));
  EXPECT_FALSE(IsSymlink(dir.Join("missing")));
}

TEST(FileSystemTest, DeleteRenameAndCreateFolders) {
  TempDir dir;
  WriteFile(dir.Join("from"), "new");
  WriteFile(dir.Join("to"), "old");
  ASSERT_TRUE(RenameFile(dir.Join("from"), dir.Join("to")));  // replaces the target
  EXPECT_EQ(test::ReadFile(dir.Join("to")), "new");
  EXPECT_FALSE(FileExists(dir.Join("from")));
  EXPECT_FALSE(RenameFile(dir.Join("from"), dir.Join("x")));

  // To a new name only: a file or link there stays, and so does the file to move.
  WriteFile(dir.Join("from"), "newer");
  ASSERT_EQ(symlink("to", dir.Join("to-link").c_str()), 0);
  std::error_code ec;
  const Folder folder = Folder::Open(dir.Path(), ec);
  EXPECT_FALSE(folder.RenameToNewName("from", folder, "to", ec));
  EXPECT_EQ(ec, std::errc::file_exists);
  EXPECT_FALSE(folder.RenameToNewName("from", folder, "to-link", ec));
  EXPECT_EQ(test::ReadFile(dir.Join("to")), "new");
  EXPECT_TRUE(folder.RenameToNewName("from", folder, "fresh", ec));
  EXPECT_EQ(test::ReadFile(dir.Join("fresh")), "newer");
  EXPECT_FALSE(FileExists(dir.Join("from")));

  ASSERT_TRUE(CreateFolders(dir.Join("a/b/c")));
  EXPECT_TRUE(FolderExists(dir.Join("a/b/c")));
  EXPECT_TRUE(CreateFolders(dir.Join("a/b")));  // already there
  EXPECT_FALSE(CreateFolders(dir.Join("to/sub")));  // below a file

  EXPECT_FALSE(DeleteFile(dir.Join("a")));  // folders are not deleted as files
  EXPECT_TRUE(DeleteFile(dir.Join("to")));
  EXPECT_FALSE(FileExists(dir.Join("to")));
  EXPECT_FALSE(DeleteFile(dir.Join("to")));
  // A symlink is removed itself, never its target.
  WriteFile(dir.Join("target"), "stays");
  ASSERT_EQ(symlink(dir.Join("target").c_str(), dir.Join("link").c_str()), 0);
  EXPECT_TRUE(DeleteFile(dir.Join("link")));
  EXPECT_TRUE(FileExists(dir.Join("target")));
}

TEST(FileSystemTest, PathParts) {
  EXPECT_EQ(FileNamePart("/a/b/name.txt"), "name.txt");
  EXPECT_EQ(FolderPart("/a/b/name.txt"), "/a/b");
  EXPECT_EQ(FileNamePart("name"), "name");
  EXPECT_EQ(FolderPart("name"), "");
  EXPECT_EQ(FileNamePart("/a/b/"), "");
  EXPECT_EQ(FolderPart("/a/b/"), "/a/b");
  EXPECT_EQ(FolderPart("/name"), "");
  EXPECT_FALSE(CurrentFolder().empty());
}

}  // namespace
}  // namespace kvelv::platform
