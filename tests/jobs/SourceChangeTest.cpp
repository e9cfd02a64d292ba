// Source files that change between listing and packing (and while they are read): one
// disappears, one shrinks, one grows, one becomes unreadable. Packing goes on with the others,
// and the archive it writes is sound and holds what was actually read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

  // Packs every source (running `hook` at the chosen moment), then checks the archive: it
  // verifies, and each entry extracts to what the source held when it was read.
  void PackAndCheck(ZipWriter& writer) {
    const std::string archive = out_.Join("a.zip");
    writer.SetZipName(archive);
    writer.SetFilesList(AllSources());
    try {
      (void)writer.PackFiles();
    } catch (const EZipException& e) {
      // Refusing the whole archive is acceptable; it must then leave nothing behind.
      EXPECT_FALSE(fs::exists(archive)) << e.what();
      return;
    }
    lock_.reset();
    ZipWriter reader;
    reader.SetZipName(archive);
    EXPECT_TRUE(reader.VerifyArchive());
    const std::string folder = out_.Join("x");
    reader.SetDestDir(folder);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(UZOverwriteMode::Always);
    (void)reader.ExtractAll();
    EXPECT_EQ(test::ReadFile(folder + "/stays.bin"), original_["stays"]);
    if (fs::exists(Source("vanishes"))) {
      EXPECT_EQ(test::ReadFile(folder + "/vanishes.bin"), original_["vanishes"]);
    } else {
      EXPECT_FALSE(fs::exists(folder + "/vanishes.bin"));
    }
    if (fs::exists(folder + "/shrinks.bin")) {
      EXPECT_EQ(test::ReadFile(folder + "/shrinks.bin"), original_["shrinks"].substr(0, 1000));
    }
    if (fs::exists(folder + "/grows.bin")) {
      const std::string got = test::ReadFile(folder + "/grows.bin");
      EXPECT_TRUE(got == original_["grows"] || got == test::ReadFile(Source("grows")))
          << "grown file packed as " << got.size() << " bytes";
    }
    if (fs::exists(folder + "/locked.bin")) {
      EXPECT_EQ(test::ReadFile(folder + "/locked.bin"), original_["locked"]);
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

TEST_F(SourceChangeTest, ChangesAfterTheFileWasOpened) {
  ZipWriter writer;
  writer.OnStartZip = [this](const std::string& path, bool&) {
    const std::string name = fs::path(path).stem().string();
    if (name == "shrinks" || name == "grows") Change(name);
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
