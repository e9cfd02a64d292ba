// A job stopped by the user, at each step: nothing of it remains (no container, no temporary
// file, no staging folder), what was there before is as it was, the outcome says so, and the
// job stopped soon after the request instead of running to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {
namespace {

namespace fs = std::filesystem;

// Random letters of a small alphabet: half of it stays after deflate, which is quick about it.
std::string RandomText(size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string text(size, 'a');
  for (size_t i = 0; i + 16 <= size; i += 16) {
    uint64_t value = random();
    for (size_t j = 0; j < 16; ++j, value >>= 4) text[i + j] = static_cast<char>('a' + (value & 15));
  }
  return text;
}

// Asks to stop once `when` holds for the progress seen; counts the reports after that.
class CancellingPrompter final : public ScriptedPrompter {
 public:
  std::function<bool(const JobProgress&)> when;
  bool requested = false;
  int reportsAfter = 0;

  void Progress(const JobProgress& progress) override {
    if (requested) ++reportsAfter;
    if (!requested && when(progress)) requested = true;
  }
  bool CancelRequested() override { return requested; }
};

// Names and bytes of every file below `folder`.
std::vector<std::pair<std::string, std::string>> Contents(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    contents.emplace_back(entry.path().lexically_relative(folder).string(),
                          entry.is_regular_file() ? ReadFile(entry.path().string()) : "<folder>");
  std::sort(contents.begin(), contents.end());
  return contents;
}

struct Files {
  TempDir work;
  std::vector<std::string> paths;
  Files() {
    // A large file (many deflate chunks) and small ones (read ahead on worker threads).
    WriteFile(work.Join("stor.bin"), RandomText(size_t{6} << 20, 1));
    paths.push_back(work.Join("stor.bin"));
    for (int i = 0; i < 40; ++i) {
      const std::string path = work.Join("liten" + std::to_string(i) + ".txt");
      WriteFile(path, RandomText(48 << 10, 2 + i));
      paths.push_back(path);
    }
  }
};

TEST(CancelJob, StoppedAtEachStepLeavesEverythingAsItWas) {
  const Files files;
  TempDir out;
  TempDir folder;
  ScopedTempDirEnv tmp;
  // The containers the decrypts read are also the old containers the encrypts would replace.
  const std::string classic = out.Join("pakke.orvkvelv");
  const std::string strong = out.Join("forsterket.orvkvelv");
  SilentPrompter silent;
  const platform::SecretBytes pw("pw");
  ASSERT_EQ(EncryptFiles(pw, files.paths, classic, JobMode::Batch, silent), 0);
  ASSERT_EQ(EncryptFiles(pw, files.paths, strong, JobMode::Batch, silent, ContainerFormat::Sealed), 0);
  WriteFile(folder.Join("stor.bin"), "the old stor.bin");
  WriteFile(folder.Join("liten3.txt"), "the old liten3.txt");
  const auto before = std::make_pair(Contents(out.Path()), Contents(folder.Path()));
  constexpr ContainerFormat k1 = ContainerFormat::Classic, k2 = ContainerFormat::Sealed;
  const struct {
    const char* moment;
    bool encrypt;
    ContainerFormat format;
    std::function<bool(const JobProgress&)> when;
  } cases[] = {
      {"packing a large file", true, k1, [](const JobProgress& p) { return p.file == "stor.bin" && p.done > (2u << 20); }},
      {"among small files read ahead", true, k1, [](const JobProgress& p) { return p.file == "liten20.txt"; }},
      {"encrypting", true, k1, [](const JobProgress& p) { return p.file == "pakke.orvkvelv" && p.done * 4 > p.total * 3; }},
      {"sealing", true, k2, [](const JobProgress& p) { return p.file == "forsterket.orvkvelv" && p.done * 4 > p.total * 3; }},
      {"extracting a large entry", false, k1, [](const JobProgress& p) { return p.file == "stor.bin" && p.done > (2u << 20); }},
      {"among small entries decoded ahead", false, k1, [](const JobProgress& p) { return p.file == "liten20.txt"; }},
      {"before the files go in", false, k1, [](const JobProgress& p) { return p.done == p.total; }},
      {"extracting a large sealed entry", false, k2, [](const JobProgress& p) { return p.file == "stor.bin" && p.done > (2u << 20); }},
      {"before the last chunks are checked", false, k2, [](const JobProgress& p) { return p.done == p.total; }},
  };
  for (const auto& c : cases) {
    for (const bool interactive : {true, false}) {
      SCOPED_TRACE(std::string(c.moment) + (interactive ? ", interactive" : ", batch"));
      CancellingPrompter prompter;
      prompter.when = c.when;
      const std::string container = c.format == k1 ? classic : strong;
      const JobMode mode = interactive ? JobMode::Interactive : JobMode::Batch;
      const int code = c.encrypt ? EncryptFiles(pw, files.paths, container, mode, prompter, c.format)
                                 : DecryptFileToFolder(pw, container, folder.Path(), mode, prompter);
      EXPECT_TRUE(prompter.requested);
      EXPECT_LE(prompter.reportsAfter, 8);  // it stopped soon after
      const std::string said = interactive ? (c.encrypt ? "Krypteringen ble avbrutt. Ingen fil er skrevet."
                                                        : "Dekrypteringen ble avbrutt. Ingen filer er endret.")
                                           : (c.encrypt ? "Encryption cancelled: no container written"
                                                        : "Decryption cancelled: nothing in the folder changed");
      EXPECT_EQ(code, interactive ? 0 : 2);
      if (interactive) {
        ASSERT_EQ(prompter.shown.size(), 1u);  // no overwrite question either
        EXPECT_EQ(prompter.shown[0].text, said);
      } else {
        EXPECT_EQ(prompter.failures, std::vector<std::string>{said});
      }
      EXPECT_EQ(std::make_pair(Contents(out.Path()), Contents(folder.Path())), before);
      EXPECT_TRUE(tmp.IsEmpty());
    }
  }
}

}  // namespace
}  // namespace kvelv::test
