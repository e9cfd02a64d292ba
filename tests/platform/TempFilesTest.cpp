// The temporary folder and unique names: "~" + hex + extension, never an existing file.
#include "platform/TempFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv::platform {
namespace {

using test::TempDir;

bool IsUpperHex(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST(TempFilesTest, TempFolderFollowsTmpdirOnlyWhenItIsAFolder) {
  TempDir dir;
  test::WriteFile(dir.Join("file"), "");
  std::filesystem::create_directory(dir.Join("sub"));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {dir.Path(), dir.Path() + "/"}, {dir.Path() + "/", dir.Path() + "/"},  // no doubled separator
      {"sub", dir.Path() + "/sub/"},  // made absolute: stays right if the current folder changes
      {dir.Join("missing"), "/tmp/"}, {dir.Join("file"), "/tmp/"},          {"", "/tmp/"}, {std::nullopt, "/tmp/"},
  };
  for (const auto& [value, folder] : cases) {
    test::ScopedEnv env("TMPDIR", value);
    EXPECT_EQ(TempFolder(), folder) << value.value_or("(unset)");
  }
  std::filesystem::current_path(before);
}

TEST(TempFilesTest, UniqueNameIsTildeHexExtensionAndCreatesNothing) {
  TempDir dir;
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string path = UniqueName(dir.Path(), ".zip");
    ASSERT_EQ(FolderPart(path), dir.Path());
    std::string name = FileNamePart(path);
    ASSERT_GE(name.size(), 6u);
    EXPECT_EQ(name.front(), '~');
    EXPECT_EQ(name.substr(name.size() - 4), ".zip");
    EXPECT_TRUE(IsUpperHex(name.substr(1, name.size() - 5))) << name;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << path;
    names.insert(path);
  }
  EXPECT_EQ(names.size(), 50u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  // Any extension text is appended as given, also none.
  EXPECT_EQ(FileNamePart(UniqueName(dir.Path() + "/", "")).find('.'), std::string::npos);
}

TEST(TempFilesTest, CreateUniqueFileMakesAPrivateEmptyFile) {
  TempDir dir;
  std::string path;
  std::error_code ec;
  {
    File file = CreateUniqueFile(dir.Path(), ".tmp", path, ec);
    ASSERT_TRUE(file.IsOpen()) << ec.message();
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Write("secret", 6), 6);
  }
  EXPECT_EQ(FolderPart(path), dir.Path());
  EXPECT_EQ(FileNamePart(path).front(), '~');
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(test::ReadFile(path), "secret");

  std::string second;
  File other = CreateUniqueFile(dir.Path(), ".tmp", second, ec);
  ASSERT_TRUE(other.IsOpen());
  EXPECT_NE(second, path);
}

TEST(TempFilesTest, CreateUniqueFileFailsInAMissingFolder) {
  TempDir dir;
  std::string path = "unchanged";
  std::error_code ec;
  File file = CreateUniqueFile(dir.Join("missing"), ".tmp", path, ec);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(ec);
  EXPECT_TRUE(path.empty());
}

}  // namespace
}  // namespace kvelv::platform
