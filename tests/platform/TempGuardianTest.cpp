// Guarded temporary folders and partial files: private, removed by the job, removed by a signal
// that ends the process before it ends, and removed by the watcher when the process that made
// them is killed before it could.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/PartialFile.h"
#include "platform/TempGuardian.h"
#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(TempGuardianTest, FolderIsPrivateAndRemovedWithItsFiles) {
  TempDir parent;
  const std::string folder = platform::CreateGuardedFolder(parent.Path() + "/", ".tmp");
  ASSERT_FALSE(folder.empty());
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  test::WriteFile(folder + "/plain.zip", "secret");
  test::WriteFile(folder + "/~staging.tmp", "secret");
  EXPECT_TRUE(platform::RemoveGuardedFolder(folder));
  EXPECT_TRUE(fs::is_empty(parent.Path()));
}

TEST(TempGuardianTest, WatcherRemovesTheFoldersOfAKilledProcess) {
  TempDir parent;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Two folders with plaintext in them, then death without any cleanup.
    for (int i = 0; i < 2; ++i) {
      const std::string folder = platform::CreateGuardedFolder(parent.Path() + "/", ".tmp");
      if (folder.empty()) _exit(1);
      test::WriteFile(folder + "/plain.zip", "secret");
    }
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    raise(SIGKILL);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(test::WaitUntilEmpty(parent.Path())) << test::ListTree(parent.Path()).front();
}

TEST(TempGuardianTest, WatcherLeavesFoldersTheProcessRemovedItself) {
  TempDir parent;
  const std::string kept = parent.Join("other");
  fs::create_directory(kept);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string folder = platform::CreateGuardedFolder(parent.Path() + "/", ".tmp");
    const bool ok = !folder.empty() && platform::RemoveGuardedFolder(folder);
    // The same name made again by someone else must survive the watcher.
    fs::create_directory(folder);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The watcher has nothing to do; give it a moment that would show a wrong removal.
  usleep(200000);
  EXPECT_EQ(test::ListTree(parent.Path()).size(), 2u);
}

// A partial file (and one committed, which is the caller's) and a guarded folder, then the end
// by `signal`: a catchable one removes them before the process ends, which it then does by that
// signal; after SIGKILL the watcher removes them.
TEST(TempGuardianTest, PartialFilesAndFoldersOutliveNoKillAndNoSignal) {
  for (int signal : {SIGKILL, SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    TempDir parent;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::error_code ec;
      const std::string folder = platform::CreateGuardedFolder(parent.Path() + "/", ".tmp");
      platform::PartialFile partial = platform::PartialFile::Create(parent.Path(), ".tmp", ec);
      platform::PartialFile done = platform::PartialFile::Create(parent.Path(), ".tmp", ec);
      if (folder.empty() || !partial.IsOpen() || !done.Commit(parent.Join("done"), ec)) _exit(1);
      test::WriteFile(folder + "/plain.zip", "secret");
      if (partial.Handle().Write("partial", 7) != 7) _exit(1);
      raise(signal);
      _exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    for (int wait = 0; signal == SIGKILL && wait < 200 && test::ListTree(parent.Path()).size() > 1; ++wait) {
      usleep(25000);
    }
    EXPECT_EQ(test::ListTree(parent.Path()), std::vector<std::string>{"done"});
  }
}

}  // namespace
}  // namespace kvelv
