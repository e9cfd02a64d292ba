// The decrypt job's interactive branches, driven through a scripted prompter, and its batch
// results. Containers are made by the encrypt job, so these tests also cover the round trip.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {
namespace {

constexpr const char* kPassword = "hemmelig passord";

class DecryptJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src_.Join("a.txt"), "alpha");
    WriteFile(src_.Join("b.txt"), "bravo");
    WriteFile(src_.Join("c.txt"), "charlie");
    container_ = work_.Join("x.orvkvelv");
    SilentPrompter silent;
    ASSERT_EQ(EncryptFiles(platform::SecretBytes(kPassword), {src_.Join("a.txt"), src_.Join("b.txt"), src_.Join("c.txt")},
                           container_, false, silent),
              0);
    ASSERT_TRUE(tmp_.IsEmpty());
  }

  int DecryptInteractive(ScriptedPrompter& prompter, const std::string& password = kPassword) {
    return DecryptFileToFolder(platform::SecretBytes(password), container_, out_.Path(), true, prompter);
  }

  TempDir src_, work_, out_;  // made before $TMPDIR is replaced, so they don't land in it
  ScopedTempDirEnv tmp_;
  std::string container_;
};

TEST_F(DecryptJobTest, NoExistingTargetExtractsWithoutAsking) {
  ScriptedPrompter prompter;
  EXPECT_EQ(DecryptInteractive(prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].kind, "message");
  EXPECT_EQ(prompter.shown[0].text, "Filen er ferdig dekryptert");
  EXPECT_EQ(ReadFile(out_.Join("a.txt")), "alpha");
  EXPECT_EQ(ReadFile(out_.Join("c.txt")), "charlie");
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(DecryptJobTest, ThirdTargetExistsAndUserDeclines) {
  WriteFile(out_.Join("c.txt"), "old");
  ScriptedPrompter prompter;
  prompter.answers = {false};
  EXPECT_EQ(DecryptInteractive(prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].kind, "question");
  EXPECT_EQ(prompter.shown[0].text, "Overskrive gamle filer?");
  EXPECT_EQ(prompter.shown[0].caption, "Filen(e) finnes fra før");
  // The folder is as it was: the files written for the question are gone with their folder.
  EXPECT_EQ(ReadFile(out_.Join("c.txt")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.Path()), {}), 1);
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(DecryptJobTest, ThirdTargetExistsAndUserAccepts) {
  WriteFile(out_.Join("c.txt"), "old");
  ScriptedPrompter prompter;
  prompter.answers = {true};
  EXPECT_EQ(DecryptInteractive(prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[1].text, "Filen er ferdig dekryptert");
  EXPECT_EQ(ReadFile(out_.Join("c.txt")), "charlie");
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(DecryptJobTest, LockedTargetReleasedBeforeOk) {
  WriteFile(out_.Join("b.txt"), "old");
  auto lock = std::make_unique<ChildLock>(out_.Join("b.txt"), true);
  ScriptedPrompter prompter;
  prompter.onMessageBox = [&] { lock.reset(); };
  prompter.answers = {true};
  EXPECT_EQ(DecryptInteractive(prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 3u);
  EXPECT_EQ(prompter.shown[0].kind, "box");
  // The message names the entry, not the full path.
  EXPECT_EQ(prompter.shown[0].text, "Lukk programmet som har denne filen åpen før du klikker Ok: \n\rb.txt");
  EXPECT_EQ(prompter.shown[0].caption, "Filen er låst av ett annet program");
  EXPECT_EQ(prompter.shown[1].text, "Overskrive gamle filer?");
  EXPECT_EQ(ReadFile(out_.Join("b.txt")), "bravo");
}

TEST_F(DecryptJobTest, LockedTargetInBatchModeChangesNothingAndEndsWithSix) {
  WriteFile(out_.Join("b.txt"), "old");
  // Either kind of lock a program holds on a document: flock, or a record lock (fcntl, lockf).
  for (const bool record : {false, true}) {
    for (const bool exclusive : {false, true}) {
      SCOPED_TRACE(std::string(record ? "record" : "flock") + (exclusive ? " exclusive" : " shared"));
      ChildLock lock(out_.Join("b.txt"), exclusive, record);
      ScriptedPrompter batch;
      EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes(kPassword), container_, out_.Path(), false, batch), 6);
      EXPECT_EQ(batch.failures, std::vector<std::string>{"Decryption failed: Another program holds the file \"" +
                                                         out_.Join("b.txt") + "\" open. Nothing in the folder was changed."});
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.Path()), {}), 1);
      EXPECT_EQ(ReadFile(out_.Join("b.txt")), "old");
    }
  }
}

TEST_F(DecryptJobTest, LockedTargetStillLockedStops) {
  WriteFile(out_.Join("a.txt"), "old");
  ChildLock lock(out_.Join("a.txt"), true);
  ScriptedPrompter prompter;
  EXPECT_EQ(DecryptInteractive(prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[0].kind, "box");
  EXPECT_EQ(prompter.shown[1].text, "Filen fremdeles låst av ett annet program. Avbryter!");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.Path()), {}), 1);
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(DecryptJobTest, WrongPasswordReportsTheComponentFailure) {
  ScriptedPrompter prompter;
  EXPECT_EQ(DecryptInteractive(prompter, "feil"), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  const std::string prefix = "Feil under dekryptering. Kontakt ORV\n\rFeilmelding: ";
  EXPECT_EQ(prompter.shown[0].text.substr(0, prefix.size()), prefix);
  EXPECT_GT(prompter.shown[0].text.size(), prefix.size());
  EXPECT_TRUE(std::filesystem::is_empty(out_.Path()));
  EXPECT_TRUE(tmp_.IsEmpty());

  // Batch mode: one line with the reason, said once.
  ScriptedPrompter batch;
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes("feil"), container_, out_.Path(), false, batch), 2);
  EXPECT_EQ(batch.failures,
            std::vector<std::string>{"Decryption failed: wrong password or damaged file (the padding is not valid)"});
  EXPECT_TRUE(std::filesystem::is_empty(out_.Path()));
}

TEST_F(DecryptJobTest, BatchOverwritesWithoutAsking) {
  WriteFile(out_.Join("a.txt"), "old");
  SilentPrompter silent;
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes(kPassword), container_, out_.Path(), false, silent), 0);
  EXPECT_EQ(ReadFile(out_.Join("a.txt")), "alpha");
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST(DecryptJobEmptyArchive, IsReportedAsDamaged) {
  TempDir work, out;
  ScopedTempDirEnv tmp;
  SilentPrompter silent;
  const std::string container = work.Join("empty.orvkvelv");
  // Only a hidden file is listed: the writer leaves it out and the archive has no entries.
  WriteFile(work.Join(".hidden"), "x");
  ASSERT_EQ(EncryptFiles(platform::SecretBytes(kPassword), {work.Join(".hidden")}, container, false, silent), 0);
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes(kPassword), container, out.Path(), false, silent), 2);
  // A folder that did not exist is not left behind.
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes(kPassword), container, out.Join("new"), false, silent), 2);
  EXPECT_FALSE(std::filesystem::exists(out.Join("new")));

  ScriptedPrompter prompter;
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes(kPassword), container, out.Path(), true, prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].text,
            "Filen er skadet, prøv og last ned filen på nytt\n\rOm problemet vedvarer, så kontakt Orv.");
  EXPECT_TRUE(std::filesystem::is_empty(out.Path()));
  EXPECT_TRUE(tmp.IsEmpty());
}

}  // namespace
}  // namespace kvelv::test
