// Where the password lives while a job runs in this process: in the caller's secret storage and
// nowhere else (no text copy, no converted copy), and nowhere at all once it is gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "tests/support/MemoryScan.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using test::MaskedSecret;

// Looks at this process's memory whenever the job asks or tells something: in the middle of a
// decryption (the overwrite question) and at the end of both jobs.
class ScanningPrompter final : public Prompter {
 public:
  explicit ScanningPrompter(std::function<void()> scan) : scan_(std::move(scan)) {}
  void ShowMessage(const std::string&) override { scan_(); }
  void ShowMessageBox(const std::string&, const std::string&) override { scan_(); }
  bool AskYesNo(const std::string&, const std::string&) override {
    scan_();
    return true;
  }
  void Notice(const std::string&) override {}
  void ReportFailure(const std::string&) override {}

 private:
  std::function<void()> scan_;
};

// Both container formats: the sealed one hands the password to the key derivation in place.
TEST(PasswordInMemory, OneCopyInSecretStorageWhileTheJobsRunAndNoneAfter) {
  if (test::UnderSanitizer()) GTEST_SKIP() << "a sanitizer's shadow memory cannot be searched";
  for (const ContainerFormat format : {ContainerFormat::Classic, ContainerFormat::Sealed}) {
    SCOPED_TRACE(format == ContainerFormat::Sealed ? "format 2" : "format 1");
    const MaskedSecret secret = MaskedSecret::Random("in-memory-password-", 40);
    test::TempDir src, work, out;
    test::ScopedTempDirEnv tmp;
    test::WriteFile(src.Join("a.txt"), "alpha");
    test::WriteFile(out.Join("a.txt"), "old");  // so the decryption asks before it overwrites
    int scans = 0;
    {
      const platform::SecretBytes password = secret.Reveal();
      ScanningPrompter prompter([&] {
        ++scans;
        const std::vector<test::MemoryHit> hits = test::FindInMemory(getpid(), secret);
        ASSERT_EQ(hits.size(), 1u) << "scan " << scans;
        EXPECT_EQ(hits[0].address, reinterpret_cast<uintptr_t>(password.Data())) << hits[0].mapping;
      });
      const std::string container = work.Join("c.kvelv");
      ASSERT_EQ(EncryptFiles(password, {src.Join("a.txt")}, container, JobMode::Interactive, prompter, format), 0);
      ASSERT_EQ(DecryptFileToFolder(password, container, out.Path(), JobMode::Interactive, prompter), 0);
    }
    EXPECT_EQ(scans, 3);  // the encryption's end, the question, the decryption's end
    EXPECT_EQ(test::ReadFile(out.Join("a.txt")), "alpha");
    EXPECT_TRUE(test::FindInMemory(getpid(), secret).empty());
  }
}

}  // namespace
}  // namespace kvelv
