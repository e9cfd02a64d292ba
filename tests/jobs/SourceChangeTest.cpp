// Source files that change between listing and packing, and while they are packed. A change
// before a file is opened is packed as the file then is; a change while it is packed (shorter,
// rewritten inside, first bytes changed) fails the pass with nothing left behind, on every road
// its bytes take; a file that only grew at its end is packed as it was when opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

enum class Change { kTruncated, kRewrittenInside, kFirstBytesChangedThenAppended, kAppended };

// Changes `path` (of `size` bytes) as `change` says.
void Apply(Change change, const std::string& path, size_t size) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (change == Change::kTruncated) fs::resize_file(path, size / 4);
  if (change == Change::kRewrittenInside) file.seekp(static_cast<std::streamoff>(size / 2));
  if (change == Change::kRewrittenInside || change == Change::kFirstBytesChangedThenAppended) file << "rewritten";
  file.seekp(0, std::ios::end);
  if (change == Change::kFirstBytesChangedThenAppended || change == Change::kAppended) file << std::string(5000, 'a');
}

// Every road of the pass: stored in blocks, one deflate stream, deflated in parallel chunks.
// The file changes after the first bytes of its entry were written (set back in time first, so
// that any write shows in its time whatever the clock's resolution).
TEST(SourceChangeWhilePackedTest, FailsThePassUnlessTheFileOnlyGrew) {
  struct Road {
    const char* what;
    int level;
    size_t size;
  };
  const Road roads[] = {{"stored", 0, 300000}, {"one stream", 6, 300000}, {"parallel chunks", 1, 12u << 20}};
  TempDir dir;
  for (const Road& road : roads) {
    for (Change change : {Change::kTruncated, Change::kRewrittenInside, Change::kFirstBytesChangedThenAppended,
                          Change::kAppended}) {
      SCOPED_TRACE(std::string(road.what) + ", change " + std::to_string(static_cast<int>(change)));
      const std::string source = dir.Join("source.bin");
      const std::string original = test::RandomBytes(road.size, 5);
      test::WriteFile(source, original);
      fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(48));
      const std::string archive = dir.Join("a.zip");
      fs::remove(archive);
      ZipWriter writer;
      writer.SetZipName(archive);
      writer.SetPackLevel(road.level);
      bool changed = false;
      writer.OnProcessMessages = [&] {
        if (!changed) Apply(change, source, road.size);
        changed = true;
      };
      writer.SetFilesList({source});
      if (change != Change::kAppended) {
        try {
          writer.PackFiles();
          ADD_FAILURE() << "packed a file that changed";
        } catch (const ESourceChanged& e) {
          EXPECT_EQ(std::string(e.what()), "File \"" + source + "\" changed while it was packed");
        }
        EXPECT_FALSE(fs::exists(archive));
        continue;
      }
      ASSERT_EQ(writer.PackFiles(), 1);
      ZipWriter reader;
      reader.SetZipName(archive);
      EXPECT_TRUE(reader.VerifyArchive());
      reader.SetDestDir(dir.Join("x"));
      reader.SetDoAll(true);
      reader.SetOverwriteMode(UZOverwriteMode::Always);
      (void)reader.ExtractAll();
      EXPECT_TRUE(test::ReadFile(dir.Join("x/source.bin")) == original) << "not the file as it was opened";
    }
  }
}

// Files that change after the list was made and before packing begins: each is packed as it is
// when opened (a vanished one is missing, a locked one cannot be opened).
class SourceChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"stays", "vanishes", "shrinks", "grows", "locked"}) {
      original_[name] = test::RandomBytes(300000, static_cast<uint32_t>(original_.size() + 1));
      test::WriteFile(Source(name), original_[name]);
    }
  }
  std::string Source(const std::string& name) const { return work_.Join(name + ".bin"); }
  std::vector<std::string> AllSources() const {
    std::vector<std::string> files;
    for (const auto& [name, content] : original_) files.push_back(Source(name));
    return files;
  }
  void Change(const std::string& name) {
    if (name == "vanishes") fs::remove(Source(name));
    if (name == "shrinks") fs::resize_file(Source(name), 1000);
    if (name == "grows") {
      std::ofstream(Source(name), std::ios::app | std::ios::binary) << std::string(200000, 'g');
    }
    if (name == "locked") lock_ = std::make_unique<test::ChildLock>(Source(name), true);
  }

  // Packs every source, then checks the archive: it verifies, and each entry extracts to what
  // the source held when it was opened.
  void PackAndCheck(ZipWriter& writer) {
    const std::string archive = out_.Join("a.zip");
    writer.SetZipName(archive);
    writer.SetFilesList(AllSources());
    (void)writer.PackFiles();
    lock_.reset();
    ZipWriter reader;
    reader.SetZipName(archive);
    EXPECT_TRUE(reader.VerifyArchive());
    const std::string folder = out_.Join("x");
    reader.SetDestDir(folder);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(UZOverwriteMode::Always);
    (void)reader.ExtractAll();
    for (const auto& [name, content] : original_) {
      const std::string extracted = folder + "/" + name + ".bin";
      if (!fs::exists(Source(name)) || name == "locked") {
        EXPECT_FALSE(fs::exists(extracted)) << name;
      } else {
        EXPECT_TRUE(test::ReadFile(extracted) == test::ReadFile(Source(name))) << name;
      }
    }
  }

  TempDir work_;
  TempDir out_;
  std::map<std::string, std::string> original_;
  std::unique_ptr<test::ChildLock> lock_;
};

TEST_F(SourceChangeTest, ChangesBetweenListingAndPacking) {
  ZipWriter writer;
  writer.OnStartZipInfo = [this](int, int64_t, bool&) {
    for (const char* name : {"vanishes", "shrinks", "grows", "locked"}) Change(name);
  };
  PackAndCheck(writer);
}

TEST_F(SourceChangeTest, UnreadableByPermissionWhenNotRoot) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  chmod(Source("locked").c_str(), 0);
  ZipWriter writer;
  PackAndCheck(writer);
  chmod(Source("locked").c_str(), 0600);
}

}  // namespace
}  // namespace kvelv
