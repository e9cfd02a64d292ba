// Open modes, advisory locks against another process, and the read-only rule that holds even
// for root.
#include "platform/File.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace kvelv::platform {
namespace {

using test::ChildLock;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

File OpenOrFail(const std::string& path, OpenMode mode) {
  std::error_code ec;
  File file = File::Open(path, mode, ec);
  EXPECT_TRUE(file.IsOpen()) << path << ": " << ec.message();
  return file;
}

std::error_code OpenError(const std::string& path, OpenMode mode) {
  std::error_code ec;
  File file = File::Open(path, mode, ec);
  EXPECT_FALSE(file.IsOpen()) << path << " opened unexpectedly";
  return ec;
}

mode_t PermissionsOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mode & 0777;
}

class FileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FileTest, ReadsWritesSeeksAndTruncates) {
  const std::string path = dir_.Join("data.bin");
  {
    File file = OpenOrFail(path, OpenMode::CreateNew);
    EXPECT_EQ(file.Write("hello world", 11), 11);
    EXPECT_EQ(file.Position(), 11);
    EXPECT_EQ(file.Size(), 11);
    ASSERT_TRUE(file.Seek(6));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);  // end of file
    EXPECT_TRUE(file.Truncate(5));
    EXPECT_EQ(file.Size(), 5);
    EXPECT_TRUE(file.Sync());
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(ReadFile(path), "hello");
}

// Positioned reads may run on several threads at once on one handle.
TEST_F(FileTest, ReadAtReadsAnywhereFromSeveralThreads) {
  const std::string path = dir_.Join("blocks.bin");
  std::string content;
  for (int i = 0; i < 4096; ++i) content += static_cast<char>(i * 31 + i / 256);
  WriteFile(path, content);
  File file = OpenOrFail(path, OpenMode::ReadDenyNone);
  std::vector<std::thread> readers;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      for (int at = t; at < 4000; at += 97) {
        char buffer[64];
        if (file.ReadAt(at, buffer, 64) != 64 || std::string(buffer, 64) != content.substr(at, 64)) ++wrong;
      }
    });
  }
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong, 0);
  char buffer[64];
  EXPECT_EQ(file.ReadAt(4090, buffer, 64), 6);  // the end of the file
  EXPECT_EQ(file.ReadAt(5000, buffer, 64), 0);
  EXPECT_EQ(file.ReadAt(-1, buffer, 64), -1);
  EXPECT_EQ(File().ReadAt(0, buffer, 1), -1);
}

TEST_F(FileTest, FailuresAreReportedNotHidden) {
  std::error_code ec;
  File missing = File::Open(dir_.Join("missing"), OpenMode::ReadDenyNone, ec);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
  EXPECT_EQ(OpenError(dir_.Path(), OpenMode::ReadDenyNone), std::errc::is_a_directory);
  EXPECT_TRUE(OpenError(dir_.Join("missing"), OpenMode::WriteExisting));
  EXPECT_FALSE(std::filesystem::exists(dir_.Join("missing")));

  WriteFile(dir_.Join("in"), "abc");
  File reader = OpenOrFail(dir_.Join("in"), OpenMode::ReadDenyWrite);
  EXPECT_LT(reader.Write("x", 1), 1);  // opened for reading only
  EXPECT_TRUE(reader.LastError());

  File closed;
  char c;
  EXPECT_EQ(closed.Read(&c, 1), -1);
  EXPECT_EQ(closed.Size(), -1);
  EXPECT_FALSE(closed.Seek(0));
}

// A FIFO would block the open or the first read until a writer came; it is no file here.
TEST_F(FileTest, FifoIsRefusedWithoutBlocking) {
  const std::string path = dir_.Join("pipe");
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  for (OpenMode mode : {OpenMode::ReadDenyNone, OpenMode::ReadDenyWrite, OpenMode::ReadWriteDenyAll,
                        OpenMode::WriteExisting, OpenMode::CreateAlways}) {
    EXPECT_TRUE(OpenError(path, mode)) << static_cast<int>(mode);
  }
}

TEST_F(FileTest, MovingHandsOverTheOpenFile) {
  const std::string path = dir_.Join("moved");
  File first = OpenOrFail(path, OpenMode::CreateNew);
  File second = std::move(first);
  EXPECT_FALSE(first.IsOpen());
  EXPECT_EQ(second.Write("ab", 2), 2);
  File third;
  third = std::move(second);
  EXPECT_TRUE(third.IsOpen());
  EXPECT_FALSE(second.IsOpen());
  third = File();  // closes and releases the lock
  OpenOrFail(path, OpenMode::ReadWriteDenyAll);
  EXPECT_EQ(ReadFile(path), "ab");
}

TEST_F(FileTest, CreateNewMakesAPrivateFileAndNeverReusesAName) {
  const std::string path = dir_.Join("new");
  OpenOrFail(path, OpenMode::CreateNew);
  EXPECT_EQ(PermissionsOf(path), 0600u);

  WriteFile(path, "keep");
  EXPECT_EQ(OpenError(path, OpenMode::CreateNew), std::errc::file_exists);
  EXPECT_EQ(ReadFile(path), "keep");

  // A symlink at the name is refused, dangling or not, and nothing appears at its target.
  const std::string target = dir_.Join("target");
  ASSERT_EQ(symlink(target.c_str(), dir_.Join("link").c_str()), 0);
  EXPECT_TRUE(OpenError(dir_.Join("link"), OpenMode::CreateNew));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(FileTest, CreateAlwaysTruncatesButNeverFollowsASymlink) {
  const std::string path = dir_.Join("always");
  WriteFile(path, "old contents");
  {
    File file = OpenOrFail(path, OpenMode::CreateAlways);
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Write("new", 3), 3);
  }
  EXPECT_EQ(ReadFile(path), "new");

  // A new user file gets the usual permissions, not the private ones of CreateNew.
  const mode_t mask = umask(022);
  umask(mask);
  OpenOrFail(dir_.Join("fresh"), OpenMode::CreateAlways);
  EXPECT_EQ(PermissionsOf(dir_.Join("fresh")), 0666u & ~mask);

  const std::string target = dir_.Join("victim");
  WriteFile(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), dir_.Join("link").c_str()), 0);
  EXPECT_TRUE(OpenError(dir_.Join("link"), OpenMode::CreateAlways));
  EXPECT_EQ(ReadFile(target), "precious");
  ASSERT_EQ(symlink(dir_.Join("nowhere").c_str(), dir_.Join("dangling").c_str()), 0);
  EXPECT_TRUE(OpenError(dir_.Join("dangling"), OpenMode::CreateAlways));
  EXPECT_FALSE(std::filesystem::exists(dir_.Join("nowhere")));
}

// Root could write these files; the program must refuse as it would on Windows. This test
// runs as root in CI, which is the case it exists for.
TEST_F(FileTest, ReadOnlyFileIsRefusedForWritingEvenToRoot) {
  const std::string path = dir_.Join("readonly");
  WriteFile(path, "fixed");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  for (OpenMode mode : {OpenMode::ReadWriteDenyAll, OpenMode::CreateAlways, OpenMode::WriteExisting}) {
    EXPECT_EQ(OpenError(path, mode), std::errc::permission_denied) << static_cast<int>(mode);
  }
  EXPECT_EQ(ReadFile(path), "fixed");
  // Reading stays allowed.
  OpenOrFail(path, OpenMode::ReadDenyNone);
  OpenOrFail(path, OpenMode::ReadDenyWrite);
  // Giving back the write bit makes it writable again.
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  OpenOrFail(path, OpenMode::WriteExisting);
}

TEST_F(FileTest, ExclusiveLockOfAnotherProcessBlocksEveryLockingMode) {
  const std::string path = dir_.Join("locked");
  WriteFile(path, "data");
  {
    ChildLock lock(path, /*exclusive=*/true);
    EXPECT_TRUE(OpenError(path, OpenMode::ReadWriteDenyAll));
    EXPECT_TRUE(OpenError(path, OpenMode::ReadDenyWrite));
    EXPECT_TRUE(OpenError(path, OpenMode::CreateAlways));
    // "Deny none" checks for a holder that shares nothing.
    EXPECT_TRUE(OpenError(path, OpenMode::ReadDenyNone));
    // Setting times allows sharing and takes no lock.
    OpenOrFail(path, OpenMode::WriteExisting);
    EXPECT_EQ(ReadFile(path), "data");  // the refused CreateAlways truncated nothing
  }
  OpenOrFail(path, OpenMode::ReadWriteDenyAll);  // released with the child
}

TEST_F(FileTest, SharedLockOfAnotherProcessAllowsReadersOnly) {
  const std::string path = dir_.Join("shared");
  WriteFile(path, "data");
  ChildLock lock(path, /*exclusive=*/false);
  OpenOrFail(path, OpenMode::ReadDenyNone);
  OpenOrFail(path, OpenMode::ReadDenyWrite);
  EXPECT_TRUE(OpenError(path, OpenMode::ReadWriteDenyAll));
  EXPECT_TRUE(OpenError(path, OpenMode::CreateAlways));
}

TEST_F(FileTest, OwnOpenFilesShareLikeAnyOtherHolder) {
  const std::string path = dir_.Join("mine");
  WriteFile(path, "data");
  {
    File reader1 = OpenOrFail(path, OpenMode::ReadDenyWrite);
    File reader2 = OpenOrFail(path, OpenMode::ReadDenyWrite);
    EXPECT_TRUE(OpenError(path, OpenMode::ReadWriteDenyAll));
  }
  File writer = OpenOrFail(path, OpenMode::ReadWriteDenyAll);
  EXPECT_TRUE(OpenError(path, OpenMode::ReadDenyWrite));
  // A child cannot take the lock either while this process holds it.
  EXPECT_THROW(ChildLock(path, false), std::runtime_error);
}

}  // namespace
}  // namespace kvelv::platform
