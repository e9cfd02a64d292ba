// File names as Linux has them, through the console binary and back: every character a POSIX
// name may hold survives, names that are not UTF-8 or come from a DOS tool are read as text, and
// different names never become one file. And encrypt outcomes that tell the truth: a listed file
// that cannot be read fails the run with its reason on standard error; files left out on purpose
// are named there; containers get the permissions users expect; the password leaves the process
// list.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "jobs/EncryptJob.h"
#include "tests/support/FaultRun.h"
#include "tests/support/RunProcess.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::TempDir;

class NamesAndOutcomesTest : public ::testing::Test {
 protected:
  test::ProcessResult Kvelv(const std::vector<std::string>& args) { return test::RunKvelv(args, work_.Path()); }
  // Writes the named files into `folder` (content: the name) and lists them for -files.
  static std::string Files(const TempDir& folder, const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
      test::WriteFile(folder.Join(name), "content of " + name);
      list += (list.empty() ? "" : ";") + folder.Join(name);
    }
    return list;
  }
  // Decrypts `container` into a new folder and returns what it holds, name by name.
  std::vector<std::string> Extracted(const std::string& container, const std::string& folder) {
    const auto result = Kvelv({"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return ListTree(folder);
  }

  TempDir work_;
};

TEST_F(NamesAndOutcomesTest, EveryPosixNameComesBackAsItWent) {
  TempDir in;
  // Characters that are patterns, drive or folder marks elsewhere, and near-twins of each name.
  const std::vector<std::string> names = {"report?.txt", "a*b.txt", "<x>.txt", ">x.txt", "p|q.txt",
                                          "x:dup.txt",   "y:dup.txt", "notes 10:30.txt", "back\\slash.txt"};
  test::WriteFile(in.Join("reportX.txt"), "must not be packed");
  test::WriteFile(in.Join("x.txt"), "must not be packed");
  const auto packed = Kvelv({"-encrypt", "-password=pw", "-files=" + Files(in, names), "-to_file=c.kvelv"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_EQ(packed.err, "");
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  const std::string out = work_.Join("out");
  EXPECT_EQ(Extracted(work_.Join("c.kvelv"), out), expected);
  for (const std::string& name : names) EXPECT_EQ(test::ReadFile(out + "/" + name), "content of " + name);
}

TEST_F(NamesAndOutcomesTest, NamesThatAreNotUtf8ComeBackAsTheirText) {
  TempDir in;
  Files(in, {"caf\xE9.txt", "caf\xE8.txt"});
  const auto packed = Kvelv({"-encrypt", "-password=pw", "-files=" + in.Join("caf\xE9.txt") + ";" +
                                                        in.Join("caf\xE8.txt"), "-to_file=c.kvelv"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_EQ(Extracted(work_.Join("c.kvelv"), work_.Join("out")), (std::vector<std::string>{"cafè.txt", "café.txt"}));
  EXPECT_EQ(test::ReadFile(work_.Join("out/café.txt")), "content of caf\xE9.txt");

  // Python's zipfile opens the archive inside: bit 11 never marks bytes that are not UTF-8.
  const auto plain = test::RunProcess("/bin/sh", {"sh", "-c", "openssl enc -d -aes-256-cbc -K $(printf pw | sha256sum | "
                                                              "cut -c1-64) -iv 35313730383236343339393135303632 -in "
                                                              "c.kvelv -out plain.zip && python3 -c \"import zipfile; "
                                                              "print(len(zipfile.ZipFile('plain.zip').namelist()))\""},
                                      work_.Path());
  EXPECT_EQ(plain.out, "2\n") << plain.err;
}

TEST_F(NamesAndOutcomesTest, DosToolNamesInCodePage850AreReadAsSuch) {
  // Å Ø Æ ü as code page 850 bytes, bit 11 clear, made by MS-DOS: four files, none lost.
  std::vector<test::ArchiveEntrySpec> entries;
  for (const char* name : {"\x8F.txt", "\x9D.txt", "\x92.txt", "\x81.txt"}) entries.push_back(test::Entry(name, name));
  test::WriteContainer(work_.Join("dos.kvelv"), test::MakeArchive(entries), "pw");
  EXPECT_EQ(Extracted(work_.Join("dos.kvelv"), work_.Join("out")),
            (std::vector<std::string>{"Å.txt", "Æ.txt", "Ø.txt", "ü.txt"}));
}

TEST_F(NamesAndOutcomesTest, TheWindowsSingleFileIsNeverSplit) {
  TempDir in;
  test::WriteFile(in.Join("b;c.txt"), "one file");
  test::ScriptedPrompter prompter;
  EXPECT_EQ(EncryptFiles(platform::SecretBytes("pw"), {in.Join("b;c.txt")}, work_.Join("w.kvelv"), JobMode::Interactive,
                         prompter),
            0);
  EXPECT_EQ(Extracted(work_.Join("w.kvelv"), work_.Join("out")), std::vector<std::string>{"b;c.txt"});
}

TEST_F(NamesAndOutcomesTest, FilesLeftOutOnPurposeAreNamedOnStandardError) {
  TempDir in, other;
  Files(in, {".env", "same.txt"});
  test::WriteFile(other.Join("SAME.TXT"), "second of the name");
  const auto result = Kvelv({"-encrypt", "-password=pw",
                             "-files=" + in.Join(".env") + ";" + in.Join("same.txt") + ";" + other.Join("SAME.TXT"),
                             "-to_file=c.kvelv"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Left out (a hidden file): " + in.Join(".env") +
                            "\r\nLeft out (a file of the same name is already packed): " + other.Join("SAME.TXT") +
                            "\r\n");
  EXPECT_EQ(Extracted(work_.Join("c.kvelv"), work_.Join("out")), std::vector<std::string>{"same.txt"});
}

TEST_F(NamesAndOutcomesTest, AnUnreadableSourceFailsTheRunAndKeepsTheOldContainer) {
  TempDir in;
  const std::string locked = in.Join("locked.txt");
  Files(in, {"good.txt", "locked.txt"});
  test::WriteFile(work_.Join("c.kvelv"), "the old container");
  {
    test::ChildLock lock(locked, true);  // another program holds it without sharing
    const auto result = Kvelv({"-encrypt", "-password=pw", "-files=" + in.Join("good.txt") + ";" + locked,
                               "-to_file=c.kvelv"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Encryption failed: Cannot open file \"" + locked + "\": ", 0), 0u) << result.err;
  }
  // A file that is gone by the time it is packed (the check before saw it).
  test::ScriptedPrompter prompter;
  EXPECT_EQ(
      EncryptFiles(platform::SecretBytes("pw"), {in.Join("gone.txt")}, work_.Join("c.kvelv"), JobMode::Batch, prompter),
      2);
  EXPECT_EQ(test::ReadFile(work_.Join("c.kvelv")), "the old container");
  EXPECT_EQ(ListTree(work_.Path()), std::vector<std::string>{"c.kvelv"});

  // Unreadable by permission: only meaningful for a user that permissions apply to.
  if (geteuid() == 0) return;
  chmod(locked.c_str(), 0);
  const auto result = Kvelv({"-encrypt", "-password=pw", "-files=" + locked, "-to_file=c.kvelv"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("Permission denied"), std::string::npos) << result.err;
  EXPECT_EQ(test::ReadFile(work_.Join("c.kvelv")), "the old container");
}

TEST_F(NamesAndOutcomesTest, ContainersGetTheUsualModeAndReplacedOnesKeepTheirs) {
  TempDir in;
  const std::string files = Files(in, {"a.txt"});
  for (mode_t mask : {mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const mode_t before = umask(mask);  // the child inherits it
    fs::remove(work_.Join("new.kvelv"));
    const auto fresh = Kvelv({"-encrypt", "-password=pw", "-files=" + files, "-to_file=new.kvelv"});
    test::WriteFile(work_.Join("old.kvelv"), "old");
    chmod(work_.Join("old.kvelv").c_str(), 0640);
    const auto replaced = Kvelv({"-encrypt", "-password=pw", "-files=" + files, "-to_file=old.kvelv"});
    umask(before);
    ASSERT_EQ(fresh.exitCode, 0);
    ASSERT_EQ(replaced.exitCode, 0);
    struct stat st {};
    ASSERT_EQ(stat(work_.Join("new.kvelv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
    ASSERT_EQ(stat(work_.Join("old.kvelv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
  }
}

TEST_F(NamesAndOutcomesTest, ThePasswordLeavesTheProcessList) {
  TempDir in;
  test::WriteFile(in.Join("big.bin"), test::RandomBytes(48 << 20, 7));
  const std::string password = "-password=unguessable-7f3a";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(test::KvelvBinary(), test::KvelvBinary(), "-encrypt", password.c_str(), ("-files=" + in.Join("big.bin")).c_str(),
          ("-to_file=" + work_.Join("big.kvelv")).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once the program has started its work (it reads the file), its command line no longer holds
  // the password. It is looked for until then (a busy machine, a sanitizer build start slowly).
  // (The watcher process it forked wipes its arguments altogether: its command line is the
  // program's name alone; app/SecretsTest looks at it.)
  const std::string proc = "/proc/" + std::to_string(child);
  std::string cmdline;
  int status = 0;
  bool ended = false;
  for (int attempt = 0; attempt < 4000 && cmdline.empty() && !ended; ++attempt) {
    ended = waitpid(child, &status, WNOHANG) == child;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(proc + "/fd", ec)) {
      if (fs::read_symlink(fd.path(), ec) != fs::path(in.Join("big.bin"))) continue;
      try {
        cmdline = test::ReadFile(proc + "/cmdline");
      } catch (const std::runtime_error&) {
      }
    }
    if (cmdline.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!ended) waitpid(child, &status, 0);
  ASSERT_FALSE(cmdline.empty()) << "the run ended before the check";
  EXPECT_NE(cmdline.find(work_.Join("big.kvelv")), std::string::npos);
  EXPECT_EQ(cmdline.find("unguessable"), std::string::npos);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace kvelv
