// A container read at any position, decrypted where it is read: the same bytes as a whole-file
// decryption, the same failures, every archive the suite knows read the same way through it as
// through a decrypted file, and a decryption that leaves the temporary folder untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <thread>

#include "jobs/CryptComponent.h"
#include "jobs/DecryptJob.h"
#include "jobs/JobCrypto.h"
#include "tests/support/FaultRun.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<CryptComponent> Component(const std::string& password) {
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (component) ConfigureForContainer(*component, platform::SecretBytes(password));
  return component;
}

class ContainerSourceTest : public ::testing::Test {
 protected:
  std::string Encrypt(const std::string& plain, const std::string& name = "c.kvelv") {
    test::WriteFile(dir_.Join("plain"), plain);
    EXPECT_EQ(Component("pw")->EncryptFileTo(dir_.Join("plain"), dir_.Join(name)), 1);
    return dir_.Join(name);
  }
  test::TempDir dir_;
};

TEST_F(ContainerSourceTest, ReadsTheBytesAWholeFileDecryptionGives) {
  std::mt19937 random(2026);
  for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4095}, size_t{300001}}) {
    SCOPED_TRACE("size " + std::to_string(size));
    const std::string plain = test::RandomBytes(size, static_cast<uint32_t>(size));
    auto source = Component("pw")->OpenDecrypted(Encrypt(plain));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->Size(), static_cast<int64_t>(size));
    // Slices anywhere, from several threads at once.
    auto check = [&](unsigned seed) {
      std::mt19937 r(seed);
      for (int i = 0; i < 200; ++i) {
        const int64_t at = static_cast<int64_t>(r() % (size + 20));
        const int64_t want = static_cast<int64_t>(r() % 70000);
        std::string got(static_cast<size_t>(want), '\0');
        const int64_t n = source->ReadAt(at, got.data(), want);
        const int64_t expected = std::clamp<int64_t>(static_cast<int64_t>(size) - at, 0, want);
        ASSERT_EQ(n, expected) << at << "+" << want;
        if (n > 0) {
          ASSERT_EQ(got.substr(0, static_cast<size_t>(n)), plain.substr(static_cast<size_t>(at), static_cast<size_t>(n)));
        }
      }
    };
    std::thread other(check, random());
    check(random());
    other.join();
  }
}

TEST_F(ContainerSourceTest, FailsWhereAWholeFileDecryptionFails) {
  const std::string good = test::ReadFile(Encrypt(test::RandomBytes(1000, 1)));
  struct Case {
    const char* what;
    std::string bytes;
    std::string password;
  };
  for (const Case& c : {Case{"wrong password", good, "wrong"}, Case{"not a multiple of 16", good.substr(0, 1000), "pw"},
                        Case{"empty", "", "pw"}, Case{"one block less", good.substr(0, good.size() - 16), "pw"}}) {
    SCOPED_TRACE(c.what);
    test::WriteFile(dir_.Join("bad.kvelv"), c.bytes);
    auto whole = Component(c.password);
    const bool wholeOk = whole->DecryptFileTo(dir_.Join("bad.kvelv"), dir_.Join("out")) == 1;
    auto streamed = Component(c.password);
    auto source = streamed->OpenDecrypted(dir_.Join("bad.kvelv"));
    EXPECT_EQ(source != nullptr, wholeOk);
    if (!wholeOk) {
      EXPECT_EQ(streamed->FailureText(), whole->FailureText());
    }
  }
}

// How an archive reads: its entries, the test's outcome and what extraction writes.
std::string Outcome(ZipReader& reader, const std::string& out) {
  std::string text;
  try {
    text += reader.VerifyArchive() ? "sound;" : "not sound;";
    reader.ReadDirectory();
    for (int i = 0; i < reader.EntryCount(); ++i) text += reader.EntryFileName(i) + ";";
    reader.SetDestDir(out);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(UZOverwriteMode::Always);
    text += std::to_string(reader.ExtractAll()) + " extracted;";
  } catch (const EZipException& e) {
    text += std::string(e.ClassName()) + ": " + e.what();
  }
  for (const std::string& name : test::ListTree(out)) {
    const std::string path = out + "/" + name;
    text += name + "=" + (fs::is_regular_file(path) ? test::ReadFile(path) : "<folder>") + ";";
  }
  return text;
}

TEST_F(ContainerSourceTest, EveryArchiveReadsAsItsDecryptedFileDoes) {
  std::vector<std::string> archives;
  for (const std::string& folder : {std::string(test::SourceDir()) + "/fuzz/corpus/zip_extract",
                                    std::string(test::SharedTestDataDir()) + "/zip-legacy"}) {
    if (!fs::exists(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".zip") archives.push_back(entry.path().string());
    }
  }
  ASSERT_GE(archives.size(), 10u);
  for (const std::string& archive : archives) {
    SCOPED_TRACE(archive);
    const std::string container = Encrypt(test::ReadFile(archive));
    auto whole = Component("pw");
    ASSERT_EQ(whole->DecryptFileTo(container, dir_.Join("plain.zip")), 1);
    ZipReader fromFile;
    fromFile.SetZipName(dir_.Join("plain.zip"));
    const std::string viaFile = Outcome(fromFile, dir_.Join("out-file"));
    ZipReader fromContainer;
    fromContainer.SetArchiveSource(Component("pw")->OpenDecrypted(container), container);
    EXPECT_EQ(Outcome(fromContainer, dir_.Join("out-container")), viaFile);
    fs::remove_all(dir_.Join("out-file"));
    fs::remove_all(dir_.Join("out-container"));
  }
}

TEST_F(ContainerSourceTest, DecryptionLeavesTheTemporaryFolderUntouched) {
  test::ScopedTempDirEnv tmp;
  struct stat before {};
  ASSERT_EQ(stat(tmp.Path().c_str(), &before), 0);
  const std::string zip = test::ReadFile(std::string(test::SourceDir()) + "/fuzz/corpus/zip_extract/deflated.zip");
  const std::string container = Encrypt(zip);
  SilentPrompter silent;
  ASSERT_EQ(DecryptFileToFolder(platform::SecretBytes("pw"), container, dir_.Join("out"), false, silent), 0);
  struct stat after {};
  ASSERT_EQ(stat(tmp.Path().c_str(), &after), 0);
  EXPECT_TRUE(tmp.IsEmpty());
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);  // nothing was even made and removed
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

}  // namespace
}  // namespace kvelv
