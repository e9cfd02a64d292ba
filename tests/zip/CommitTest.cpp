// The commit of a staged extraction is all or nothing: a move that fails, at the first, a middle
// or the last file, leaves the folder exactly as it was, replaced files included; a name held by
// what must not be replaced stops it before the first move.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/ArchiveMaker.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipReader.h"

namespace kvelv {
namespace {

using test::TempDir;

class CommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Five files: three replace old ones, two are new, and one old file is nobody's business.
    std::vector<test::ArchiveEntrySpec> entries;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
      entries.push_back(test::Entry(name, std::string("new ") + name));
    archive_ = work_.Join("t.zip");
    test::WriteFile(archive_, test::MakeArchive(entries));
    for (const char* name : {"a.txt", "c.txt", "e.txt", "keep.txt"}) {
      test::WriteFile(Out(name), std::string("old ") + name);
    }
  }
  std::string Out(const std::string& name) const { return out_.Path() + platform::kSeparator + name; }
  StagedExtraction Stage() {
    reader_.SetZipName(archive_);
    reader_.SetDestDir(out_.Path());
    reader_.SetDoAll(true);
    reader_.SetOverwriteMode(UZOverwriteMode::Always);
    return reader_.StageAll();
  }

  TempDir work_;
  TempDir out_;
  std::string archive_;
  ZipReader reader_;
};

TEST_F(CommitTest, AFailedMoveUndoesEveryMoveBeforeIt) {
  const std::vector<std::string> before = test::Listing(out_.Path());
  for (int failing : {0, 2, 4}) {
    SCOPED_TRACE("the move that fails: " + std::to_string(failing));
    StagedExtraction staged = Stage();
    staged.SetMoveFaultForTesting([&](int move) { return move == failing; });
    EXPECT_EQ(staged.Commit(StagedExtraction::CommitMode::AllOrNothing), 0);
    EXPECT_EQ(staged.MoveFailures(), 1);
    EXPECT_NE(staged.FirstMoveFailure().find("A failure made for a test"), std::string::npos);
    EXPECT_EQ(test::Listing(out_.Path()), before);  // the staging folder gone too
  }
  StagedExtraction staged = Stage();
  EXPECT_EQ(staged.Commit(StagedExtraction::CommitMode::AllOrNothing), 5);
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
    EXPECT_EQ(test::ReadFile(Out(name)), std::string("new ") + name);
  }
  EXPECT_EQ(test::ReadFile(Out("keep.txt")), "old keep.txt");
  EXPECT_EQ(test::Listing(out_.Path()).size(), 6u);
}

TEST_F(CommitTest, ANameTakenAfterTheCheckIsNeverReplaced) {
  StagedExtraction staged = Stage();
  // Another program makes b.txt just before the move meant to make it.
  staged.SetMoveFaultForTesting([&](int move) {
    if (move == 1) test::WriteFile(Out("b.txt"), "someone else's");
    return false;
  });
  EXPECT_EQ(staged.Commit(StagedExtraction::CommitMode::AllOrNothing), 5);
  EXPECT_EQ(test::ReadFile(Out("b.txt")), "someone else's");
  EXPECT_EQ(test::ReadFile(Out("b (2).txt")), "new b.txt");
  ASSERT_EQ(staged.Notices().size(), 1u);
  EXPECT_EQ(staged.Notices()[0].stored, "b.txt");
  EXPECT_EQ(staged.Notices()[0].written, "b (2).txt");
}

TEST_F(CommitTest, ABlockedNameStopsTheCommitBeforeTheFirstMove) {
  struct Case {
    const char* what;
    std::string content;  // of a read-only d.txt; "" for a folder d.txt
    int extracted;
  };
  for (const Case& c : {Case{"a folder", "", 0}, Case{"a read-only file with other content", "old d.txt", 0},
                        Case{"a read-only file with the same content", "new d.txt", 5}}) {
    SCOPED_TRACE(c.what);
    if (c.content.empty()) {
      ASSERT_TRUE(platform::CreateFolders(Out("d.txt")));
    } else {
      test::WriteFile(Out("d.txt"), c.content);
      ASSERT_TRUE(platform::SetDosAttributes(Out("d.txt"), platform::kAttrReadOnly));
    }
    const std::vector<std::string> before = test::Listing(out_.Path());
    StagedExtraction staged = Stage();
    const std::vector<TargetCheck> checks = staged.CheckTargets(true);
    ASSERT_EQ(checks.size(), 5u);
    EXPECT_EQ(checks[3].Blocks(), c.extracted == 0);
    EXPECT_EQ(staged.Commit(StagedExtraction::CommitMode::AllOrNothing), c.extracted);
    if (c.extracted == 0) {
      EXPECT_EQ(test::Listing(out_.Path()), before);
      EXPECT_NE(staged.FirstMoveFailure().find("d.txt"), std::string::npos) << staged.FirstMoveFailure();
    } else {
      EXPECT_EQ(test::ReadFile(Out("a.txt")), "new a.txt");
      EXPECT_EQ(test::ReadFile(Out("d.txt")), "new d.txt");
    }
    platform::SetDosAttributes(Out("d.txt"), 0);
    platform::DeleteFile(Out("d.txt"));
    platform::RemoveEmptyFolder(Out("d.txt"));
  }
}

TEST_F(CommitTest, AStagingFolderLeftBehindGoesWithTheNextRunUnlessARunWorksInIt) {
  const std::string left = ".~kvelv-0123ABCD.tmp";
  const std::string working = ".~kvelv-4567CDEF.tmp";
  for (const std::string& name : {left, working}) {
    ASSERT_TRUE(platform::CreateFolders(Out(name)));
    test::WriteFile(Out(name) + platform::kSeparator + "0.part", "partial plaintext");
  }
  std::error_code ec;
  const platform::Folder busy = platform::Folder::Open(Out(working), ec);
  ASSERT_TRUE(busy.MarkInUse());
  StagedExtraction staged = Stage();
  EXPECT_FALSE(platform::FolderExists(Out(left)));
  EXPECT_TRUE(platform::FileExists(Out(working) + platform::kSeparator + "0.part"));
}

}  // namespace
}  // namespace kvelv
