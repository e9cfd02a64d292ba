// Expansion of the writer's item list: plain paths, folder entries and wildcard items.
#include "zip/pack/FileListExpander.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

class FileListExpanderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.txt", "b.txt", "c.log", "README", "Cat.txt", ".hidden.txt", "sub/d.txt",
                             "sub/e.log", "sub/deeper/f.txt", "other/g.txt"}) {
      std::filesystem::create_directories(std::filesystem::path(dir_.Join(name)).parent_path());
      test::WriteFile(dir_.Join(name), std::string(name));
    }
  }
  std::string P(const std::string& name) const { return dir_.Join(name); }
  std::vector<std::string> Sorted(std::vector<std::string> v) const {
    std::sort(v.begin(), v.end());
    return v;
  }
  test::TempDir dir_;
};

TEST_F(FileListExpanderTest, PlainItemsKeepTheirOrderAndMissingOnesDrop) {
  std::vector<std::string> missing;
  ExpandOptions options;
  options.onNoSuchFile = [&](const std::string& item) { missing.push_back(item); };
  auto result = ExpandFileList({P("b.txt"), "", P("nope.txt"), P("a.txt"), P(".hidden.txt"), P("sub")}, options);
  // A folder given without its trailing separator is found here; the writer drops it later.
  EXPECT_EQ(result.paths, (std::vector<std::string>{P("b.txt"), P("a.txt"), P("sub")}));
  EXPECT_EQ(result.totalBytes, 10);
  EXPECT_EQ(missing, (std::vector<std::string>{"", P("nope.txt"), P(".hidden.txt")}));
}

TEST_F(FileListExpanderTest, SearchMaskDecidesOnHiddenAndSystemFiles) {
  ASSERT_EQ(mkfifo(P("pipe").c_str(), 0600), 0);
  ExpandOptions options;
  EXPECT_TRUE(ExpandFileList({P(".hidden.txt"), P("pipe")}, options).paths.empty());
  options.searchAttributes = 0x1FF;
  EXPECT_EQ(ExpandFileList({P(".hidden.txt"), P("pipe")}, options).paths.size(), 2u);
  EXPECT_TRUE(VisibleWithMask(0x21, 0x1F9));  // read-only and archive bits never restrict
  EXPECT_FALSE(VisibleWithMask(0x22, 0x1F9));
  EXPECT_FALSE(VisibleWithMask(0x04, 0x1F9));
}

TEST_F(FileListExpanderTest, FolderEntriesPassUnchangedAndRootDirPrefixesBareNames) {
  ExpandOptions options;
  options.rootDir = dir_.Path() + "/";
  // "\\" is an ordinary character of a POSIX name: "sub\\" is a file name, and there is none.
  auto result = ExpandFileList({"a.txt", P("sub") + "/", "sub\\", "nothere.txt"}, options);
  EXPECT_EQ(result.paths, (std::vector<std::string>{P("a.txt"), P("sub") + "/"}));
}

TEST_F(FileListExpanderTest, WildcardsSearchTheFolderOnlyUnlessAskedToRecurse) {
  ExpandOptions options;
  EXPECT_EQ(Sorted(ExpandFileList({P("*.txt")}, options).paths),
            Sorted({P("a.txt"), P("b.txt"), P("Cat.txt")}));
  EXPECT_EQ(Sorted(ExpandFileList({">" + P("*.txt")}, options).paths),
            Sorted({P("a.txt"), P("b.txt"), P("Cat.txt"), P("sub/d.txt"), P("sub/deeper/f.txt"), P("other/g.txt")}));
  options.recurse = true;
  EXPECT_EQ(ExpandFileList({P("*.log")}, options).paths.size(), 2u);
  EXPECT_EQ(ExpandFileList({"|" + P("*.log")}, options).paths, std::vector<std::string>{P("c.log")});
}

TEST_F(FileListExpanderTest, SetsExtensionlessNamesAndAllFiles) {
  ExpandOptions options;
  EXPECT_EQ(Sorted(ExpandFileList({P("<a-c>*")}, options).paths),
            Sorted({P("a.txt"), P("b.txt"), P("c.log"), P("Cat.txt")}));
  EXPECT_EQ(ExpandFileList({P("*.")}, options).paths, std::vector<std::string>{P("README")});
  EXPECT_EQ(ExpandFileList({P("*.*")}, options).paths.size(), 5u);
  // An unclosed set matches nothing.
  EXPECT_TRUE(ExpandFileList({P("<a-c*")}, options).paths.empty());
}

TEST_F(FileListExpanderTest, PlainItemsComeFirstThenWildcardMatches) {
  ExpandOptions options;
  auto result = ExpandFileList({P("*.log"), P("README")}, options);
  EXPECT_EQ(result.paths, (std::vector<std::string>{P("README"), P("c.log")}));
}

TEST_F(FileListExpanderTest, WildcardFolderPartsAreMatchedLevelByLevel) {
  ExpandOptions options;
  EXPECT_EQ(Sorted(ExpandFileList({dir_.Path() + "/*/*.txt"}, options).paths),
            Sorted({P("sub/d.txt"), P("other/g.txt")}));
  EXPECT_EQ(ExpandFileList({dir_.Path() + "/s?b/d*/*"}, options).paths, std::vector<std::string>{P("sub/deeper/f.txt")});
  std::vector<std::string> missing;
  options.onNoSuchFile = [&](const std::string& item) { missing.push_back(item); };
  EXPECT_TRUE(ExpandFileList({dir_.Path() + "/nofolder/*.txt"}, options).paths.empty());
  EXPECT_EQ(missing.size(), 1u);
}

TEST_F(FileListExpanderTest, DirEntriesOnRecurseComeBeforeTheirContents) {
  ExpandOptions options;
  options.addDirEntriesOnRecurse = true;
  auto paths = ExpandFileList({">" + P("f.txt")}, options).paths;
  auto at = [&](const std::string& p) { return std::find(paths.begin(), paths.end(), p) - paths.begin(); };
  ASSERT_EQ(paths.size(), 4u);  // sub/, sub/deeper/, other/ and the one match
  EXPECT_LT(at(P("sub") + "/"), at(P("sub/deeper") + "/"));
  EXPECT_LT(at(P("sub/deeper") + "/"), at(P("sub/deeper/f.txt")));
}

TEST_F(FileListExpanderTest, ExcludeListMatchesNamesOrWholePaths) {
  std::vector<std::string> excluded;
  ExpandOptions options;
  options.excludeList = {"*.log", "*/deeper/*"};
  options.onSkippingFile = [&](const std::string& path, ExpandSkip why) {
    EXPECT_EQ(why, ExpandSkip::kExcludeList);
    excluded.push_back(path);
  };
  auto result = ExpandFileList({P("c.log"), ">" + P("*")}, options);
  for (const auto& p : result.paths) {
    EXPECT_EQ(p.find(".log"), std::string::npos) << p;
    EXPECT_EQ(p.find("deeper"), std::string::npos) << p;
  }
  EXPECT_EQ(Sorted(excluded), Sorted({P("c.log"), P("c.log"), P("sub/e.log"), P("sub/deeper/f.txt")}));
  EXPECT_TRUE(MatchesExcludeList("/x/y/Report.DOC", {"*.doc"}));
  EXPECT_TRUE(MatchesExcludeList("/x/y/z.txt", {"\\x\\y\\*"}));
  EXPECT_FALSE(MatchesExcludeList("/x/y/z.txt", {"y"}));
}

TEST_F(FileListExpanderTest, TheArchiveItselfIsNeverFound) {
  test::WriteFile(P("out.zip"), "PK");
  ExpandOptions options;
  options.archivePath = P("out.zip");
  EXPECT_TRUE(ExpandFileList({P("*.zip")}, options).paths.empty());
}

TEST_F(FileListExpanderTest, LinkedFoldersAreNotFollowed) {
  std::filesystem::create_directory_symlink(dir_.Path(), P("sub/loop"));
  ExpandOptions options;
  auto paths = ExpandFileList({">" + P("*.txt")}, options).paths;
  EXPECT_EQ(paths.size(), 6u);
}

TEST_F(FileListExpanderTest, FreshenAndCancelHooks) {
  ExpandOptions options;
  options.hasEntryToFreshen = [&](const std::string& path) { return path == P("a.txt"); };
  std::vector<ExpandSkip> reasons;
  options.onSkippingFile = [&](const std::string&, ExpandSkip why) { reasons.push_back(why); };
  EXPECT_EQ(ExpandFileList({P("a.txt"), P("b.txt")}, options).paths, std::vector<std::string>{P("a.txt")});
  EXPECT_EQ(reasons, std::vector<ExpandSkip>{ExpandSkip::kNoFileToFreshen});

  ExpandOptions cancelling;
  cancelling.checkCancel = [] { throw std::runtime_error("cancelled"); };
  EXPECT_NO_THROW(ExpandFileList({P("a.txt")}, cancelling));
  EXPECT_THROW(ExpandFileList({P("*.txt")}, cancelling), std::runtime_error);
}

}  // namespace
}  // namespace kvelv
