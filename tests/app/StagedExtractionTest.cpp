// Decryption with the console binary, where extraction must be all or nothing: a failure on the
// way keeps the user's files as they were; links, hard links and other users' files at a target
// name are replaced, never written through; a target folder swapped for a link mid-run cannot
// redirect files; a target folder that cannot be used fails the run.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/AppFaultTest.h"
#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FaultOptions;
using test::ListTree;
using test::RunUnderFault;
using test::TempDir;

class StagedExtractionTest : public test::AppFaultTest {
 protected:
  // Encrypts the named files (written with their contents first) into a container; its path.
  std::string Container(const std::vector<std::pair<std::string, std::string>>& files) {
    TempDir sources;
    std::string list;
    for (const auto& [name, content] : files) {
      test::WriteFile(sources.Join(name), content);
      list += (list.empty() ? "" : ";") + sources.Join(name);
    }
    const std::string container = work_.Join("c" + std::to_string(++containers_) + ".kvelv");
    EXPECT_EQ(test::Encrypt(list, container).exitCode, 0);
    return container;
  }
  test::FaultResult Decrypt(const std::string& container, const std::string& folder, FaultOptions options = {}) {
    return test::Decrypt(container, folder, WithTmp(options));
  }

  int containers_ = 0;
};

// Zeros compress well: the container is small, the extracted file large.
const std::string kLarge(4 << 20, '\0');

TEST_F(StagedExtractionTest, FailedExtractionKeepsEveryOldFile) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
  };
  const std::vector<Case> cases = {
      {"the large file first", {{"large.bin", kLarge}, {"a.txt", "new a"}, {"b.txt", "new b"}}},
      {"the large file in the middle", {{"a.txt", "new a"}, {"large.bin", kLarge}, {"b.txt", "new b"}}},
      {"the large file last", {{"a.txt", "new a"}, {"b.txt", "new b"}, {"large.bin", kLarge}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string container = Container(c.files);
    TempDir folder;
    for (const auto& [name, content] : c.files) test::WriteFile(folder.Join(name), "old " + name);
    FaultOptions options;
    options.fileSizeLimit = 1 << 20;  // the disk fills while the large file is written
    const auto result = Decrypt(container, folder.Path(), options);
    EXPECT_EQ(result.exitCode, 2);
    for (const auto& [name, content] : c.files) EXPECT_EQ(test::ReadFile(folder.Join(name)), "old " + name);
    EXPECT_EQ(ListTree(folder.Path()).size(), c.files.size()) << "a staged file was left";
    EXPECT_TRUE(fs::is_empty(tmp_.Path()));
  }
}

TEST_F(StagedExtractionTest, FullFileSystemKeepsTheOldFile) {
  TempDir mountPoint;
  if (geteuid() != 0 || mount("tmpfs", mountPoint.Path().c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{mountPoint.Path()};
  // One large file, and many small ones (written by the workers that decode them).
  std::vector<std::pair<std::string, std::string>> small;
  for (int i = 0; i < 60; ++i) {
    small.emplace_back("f" + std::to_string(i) + ".bin", test::RandomBytes(48 << 10, 500 + i));
  }
  for (const auto& files : {std::vector<std::pair<std::string, std::string>>{{"large.bin", kLarge}}, small}) {
    const std::string& name = files.front().first;
    SCOPED_TRACE(name);
    const std::string container = Container(files);
    test::WriteFile(mountPoint.Join(name), "old " + name);
    EXPECT_EQ(Decrypt(container, mountPoint.Path()).exitCode, 2);
    EXPECT_EQ(test::ReadFile(mountPoint.Join(name)), "old " + name);
    EXPECT_EQ(ListTree(mountPoint.Path()), std::vector<std::string>{name});
    fs::remove(mountPoint.Join(name));
  }
}

TEST_F(StagedExtractionTest, LinksAndOtherUsersFilesAtTargetNamesAreReplaced) {
  const std::string container = Container({{"hard.txt", "new hard"}, {"soft.txt", "new soft"}, {"foreign.txt", "new foreign"}});
  TempDir outside;
  const std::string victim = outside.Join("victim.txt");
  test::WriteFile(victim, "outside file");
  TempDir folder;
  fs::create_hard_link(victim, folder.Join("hard.txt"));
  fs::create_symlink(victim, folder.Join("soft.txt"));
  test::WriteFile(folder.Join("foreign.txt"), "planted");
  chmod(folder.Join("foreign.txt").c_str(), 0666);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(folder.Join("foreign.txt").c_str(), 65534, 65534), 0);
  }

  const mode_t before = umask(077);  // the child inherits it: new files get 0600
  const auto result = Decrypt(container, folder.Path());
  umask(before);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::ReadFile(victim), "outside file");
  for (const char* name : {"hard.txt", "soft.txt", "foreign.txt"}) {
    SCOPED_TRACE(name);
    const std::string path = folder.Join(name);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::ReadFile(path), std::string("new ") + std::string(name).substr(0, std::string(name).find('.')));
  }
}

TEST_F(StagedExtractionTest, TargetFolderSwappedForALinkCannotRedirectFiles) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 40; ++i) files.emplace_back("f" + std::to_string(i) + ".bin", test::RandomBytes(256 << 10, 300 + i));
  const std::string container = Container(files);
  TempDir parent;
  TempDir elsewhere;
  for (int delayMs : {0, 10, 40}) {
    SCOPED_TRACE("swapped " + std::to_string(delayMs) + " ms after extraction began");
    const std::string folder = parent.Join("out");
    fs::create_directory(folder);
    std::thread swapper([&] {
      // Extraction has begun (the folder was opened) once its staging folder shows.
      for (int wait = 0; wait < 2000 && fs::is_empty(folder); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      fs::rename(folder, parent.Join("moved"));
      fs::create_directory_symlink(elsewhere.Path(), folder);
    });
    const auto result = Decrypt(container, folder);
    swapper.join();
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 2) << result.exitCode;
    EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << ListTree(elsewhere.Path()).front();
    fs::remove(folder);
    fs::remove_all(parent.Join("moved"));
  }
}

TEST_F(StagedExtractionTest, UnusableTargetFolderFailsTheRun) {
  const std::string container = Container({{"a.txt", "new a"}});
  TempDir place;
  test::WriteFile(place.Join("file"), "a file");
  fs::create_symlink(place.Join("missing"), place.Join("dangling"));
  for (const std::string& folder : {place.Join("file"), place.Join("file/below"), place.Join("dangling")}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(Decrypt(container, folder).exitCode, 2);
  }
  EXPECT_EQ(test::ReadFile(place.Join("file")), "a file");
  EXPECT_FALSE(fs::exists(place.Join("missing")));

  // A read-only file system, where one can be made (a read-only bind mount, as root).
  TempDir readOnly;
  if (geteuid() == 0 &&
      mount(readOnly.Path().c_str(), readOnly.Path().c_str(), nullptr, MS_BIND, nullptr) == 0) {
    struct Unmount {
      std::string path;
      ~Unmount() { umount(path.c_str()); }
    } unmount{readOnly.Path()};
    if (mount(nullptr, readOnly.Path().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0) {
      EXPECT_EQ(Decrypt(container, readOnly.Path()).exitCode, 2);
    }
  }

  // "?" is an ordinary folder name here.
  EXPECT_EQ(Decrypt(container, place.Join("?")).exitCode, 0);
  EXPECT_EQ(test::ReadFile(place.Join("?/a.txt")), "new a");
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
}

}  // namespace
}  // namespace kvelv
