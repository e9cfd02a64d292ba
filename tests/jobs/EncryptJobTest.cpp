// The encrypt job's reports in both modes and its handling of the temporary archive.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "jobs/CryptComponent.h"
#include "jobs/EncryptJob.h"
#include "jobs/ContainerCrypto.h"
#include "tests/support/FaultRun.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipWriter.h"

namespace kvelv::test {
namespace {

TEST(EncryptJob, InteractiveSuccessNamesTheTarget) {
  TempDir work;
  ScopedTempDirEnv tmp;
  WriteFile(work.Join("a.txt"), "alpha");
  const std::string target = work.Join("a.orvkvelv");
  ScriptedPrompter prompter;
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {work.Join("a.txt")}, target, JobMode::Interactive, prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].text, "Filen er ferdig kryptert: " + target);
  EXPECT_TRUE(std::filesystem::is_regular_file(target));
  EXPECT_TRUE(tmp.IsEmpty());
}

TEST(EncryptJob, FailedEncryptionDeletesTheTemporaryArchive) {
  TempDir work;
  ScopedTempDirEnv tmp;
  WriteFile(work.Join("a.txt"), "alpha");
  const std::string target = work.Join("missing-folder/a.orvkvelv");
  SilentPrompter silent;
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {work.Join("a.txt")}, target, JobMode::Batch, silent), 2);
  EXPECT_TRUE(tmp.IsEmpty());

  ScriptedPrompter prompter;
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {work.Join("a.txt")}, target, JobMode::Interactive, prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 1u);
  const std::string prefix = "Kryptering feilet: ";
  EXPECT_EQ(prompter.shown[0].text.substr(0, prefix.size()), prefix);
  EXPECT_GT(prompter.shown[0].text.size(), prefix.size());
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(tmp.IsEmpty());
}

TEST(EncryptJob, ExistingTargetIsReplacedOnlyWhenTheNewContainerIsComplete) {
  TempDir work;
  ScopedTempDirEnv tmp;
  const std::string target = work.Join("x.orvkvelv");
  WriteFile(target, "previous container");
  WriteFile(work.Join("a.txt"), "alpha");
  SilentPrompter silent;
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {work.Join("a.txt")}, target, JobMode::Batch, silent), 0);
  const std::string first = ReadFile(target);
  EXPECT_NE(first, "previous container");
  EXPECT_EQ(first.size() % 16, 0u);
  EXPECT_TRUE(tmp.IsEmpty());
}

// The window's message for a source that changed while it was packed names the file.
TEST(EncryptJob, SourceChangedWhilePackedIsNamedInTheMessage) {
  TempDir work;
  ScopedTempDirEnv tmp;
  const std::string source = work.Join("growing.log");
  WriteFile(source, RandomBytes(16u << 20, 3));
  std::filesystem::last_write_time(source, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  bool changed = false;
  std::thread changer([&] {
    changed = WhenAFileGrowsTo(tmp.Path(), 2 << 20, [&] { std::filesystem::resize_file(source, 1000); });
  });
  ScriptedPrompter prompter;
  const std::string target = work.Join("x.orvkvelv");
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {source}, target, JobMode::Interactive, prompter), 0);
  changer.join();
  ASSERT_TRUE(changed);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].text, "Kryptering feilet: File \"" + source + "\" changed while it was packed");
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(tmp.IsEmpty());
}

// The container is encrypted while the archive is packed, yet it holds exactly the archive the
// writer makes of the same files on its own: many small files, a large one deflated on several
// threads between them, an empty one.
TEST(EncryptJob, ContainerHoldsTheArchiveTheWriterMakesAlone) {
  TempDir work;
  ScopedTempDirEnv tmp;
  std::vector<std::string> files;
  for (int i = 0; i < 200; ++i) {
    files.push_back(work.Join("f" + std::to_string(i) + ".txt"));
    WriteFile(files.back(), i % 50 == 0 ? std::string() : RandomBytes(static_cast<size_t>(i) * 97, i) + std::string(3000, 'x'));
  }
  files.insert(files.begin() + 50, work.Join("large.bin"));
  WriteFile(files[50], RandomBytes(6u << 20, 7));
  const std::string target = work.Join("x.orvkvelv");
  SilentPrompter silent;
  ASSERT_EQ(EncryptFiles(platform::SecretBytes("pw"), files, target, JobMode::Batch, silent), 0);

  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  ASSERT_NE(component, nullptr);
  ConfigureForContainer(*component, platform::SecretBytes("pw"));
  ASSERT_EQ(component->DecryptFileTo(target, work.Join("inner.zip")), 1) << component->FailureText();
  ZipWriter writer;
  writer.SetZipName(work.Join("alone.zip"));
  writer.SetExpandWildcards(false);
  writer.SetFilesList(files);
  ASSERT_EQ(writer.PackFiles(), static_cast<int>(files.size()));
  EXPECT_TRUE(ReadFile(work.Join("inner.zip")) == ReadFile(work.Join("alone.zip")));
  EXPECT_TRUE(tmp.IsEmpty());
}

}  // namespace
}  // namespace kvelv::test
