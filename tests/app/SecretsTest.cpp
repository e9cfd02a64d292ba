// The console program and its secrets, as another process of the same machine sees them: no core
// file when it is made to dump, one copy of the password in secret storage while a job runs and
// none in the watcher, a temporary archive that holds none of the files' bytes, and a password
// file that keeps the password off the command line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "tests/support/FaultRun.h"
#include "tests/support/MemoryScan.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestData.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FindInMemory;
using test::MaskedSecret;
using test::MemoryHit;
using test::TempDir;

struct Spawned {
  pid_t pid = -1;
  int input = -1;  // write end of its standard input, when asked for
};

// Starts the console program in a process group of its own (so its watcher is found by the
// group), in `folder`, with $TMPDIR `tmp`, core files allowed, output to /dev/null.
Spawned Spawn(const std::vector<std::string>& args, const std::string& folder, const std::string& tmp,
              bool withInput = false, const std::string& program = test::KvelvBinary()) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ends[2] = {-1, -1};
  if (withInput && pipe(ends) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_CORE, &unlimited);
    const int null = open("/dev/null", O_RDWR);
    dup2(withInput ? ends[0] : null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (withInput) close(ends[1]);
    if (chdir(folder.c_str()) != 0) _exit(126);
    setenv("TMPDIR", tmp.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (withInput) close(ends[0]);
  return {pid, ends[1]};
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Polls `done` for up to a minute; false when it never held.
bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 300000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// The other members of the process group `group`: the watcher.
std::vector<pid_t> GroupMembersBesides(pid_t group) {
  std::vector<pid_t> members;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == group) continue;
    if (getpgid(std::stoi(name)) == group) members.push_back(std::stoi(name));
  }
  return members;
}

std::string Cmdline(pid_t pid) {
  try {
    return test::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
  } catch (const std::exception&) {
    return {};
  }
}

bool Contains(const std::string& bytes, const MaskedSecret& secret) {
  for (size_t at = 0; at + secret.Size() <= bytes.size(); ++at) {
    size_t k = 0;
    while (k < secret.Size() && static_cast<uint8_t>(bytes[at + k]) == secret.At(k)) ++k;
    if (k == secret.Size()) return true;
  }
  return false;
}

// Where core files of a process in `folder` land: nullopt when the system pipes them to a program
// this test cannot look into.
std::optional<std::string> CoreFolder(const std::string& folder) {
  std::string pattern = test::ReadFile("/proc/sys/kernel/core_pattern");
  if (!pattern.empty() && pattern[0] == '|') return std::nullopt;
  const size_t slash = pattern.rfind('/');
  return slash == std::string::npos ? folder : pattern.substr(0, slash);
}

size_t EntriesIn(const std::string& folder) {
  std::error_code ec;
  return fs::exists(folder, ec) ? static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator())) : 0;
}

class SecretsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getuid() != 0) GTEST_SKIP() << "reading another process's memory needs root (the program is not dumpable)";
    random_ = in_.Join("random.bin");
    test::WriteFile(random_, test::RandomBytes(4 << 20, 25));
    // Zeros deflate slowly enough to stop the job while it packs them, and take no disk space.
    zeros_ = in_.Join("zeros.bin");
    test::WriteFile(zeros_, "");
    fs::resize_file(zeros_, 256 << 20);
    secret_ = MaskedSecret::Random("kvelv-secret-", 48);
  }

  // Whether a core file of a process killed by `signal` in `folder` would be seen: a process
  // that may dump does dump there. The core it leaves is removed.
  bool CoresCanBeSeen(const std::string& folder) {
    const auto cores = CoreFolder(folder);
    if (!cores) return false;
    const size_t before = EntriesIn(*cores);
    Spawned control = Spawn({"30"}, folder, tmp_.Path(), false, "/bin/sleep");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(control.pid, SIGQUIT);
    const int status = WaitFor(control.pid);
    const bool seen = WIFSIGNALED(status) && WCOREDUMP(status) && EntriesIn(*cores) > before;
    if (*cores == folder)
      for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
    return seen;
  }

  // Stops the job, looks at its memory and its watcher's, lets `inspect` look at it, then ends
  // it with `signal` (core files allowed) and checks that it left no core file.
  void InspectThenDump(const Spawned& job, int signal, const std::function<void()>& inspect) {
    ASSERT_EQ(kill(job.pid, SIGSTOP), 0);
    // The password: one copy at most, in secret storage (left out of dumps, zeros in a fork).
    const std::vector<MemoryHit> hits = FindInMemory(job.pid, secret_);
    EXPECT_LE(hits.size(), 1u);
    for (const MemoryHit& hit : hits) {
      EXPECT_NE((hit.flags + " ").find(" dd "), std::string::npos) << hit.mapping << " [" << hit.flags << "]";
      EXPECT_NE((hit.flags + " ").find(" wf "), std::string::npos) << hit.mapping << " [" << hit.flags << "]";
    }
    EXPECT_FALSE(Contains(Cmdline(job.pid), secret_));
    const std::vector<pid_t> watchers = GroupMembersBesides(job.pid);
    EXPECT_EQ(watchers.size(), 1u) << "the watcher process";
    for (pid_t watcher : watchers) {
      EXPECT_TRUE(FindInMemory(watcher, secret_).empty()) << "the watcher holds the password";
      EXPECT_FALSE(Contains(Cmdline(watcher), secret_));
    }
    if (inspect) inspect();

    const bool cores = CoresCanBeSeen(folder_.Path());
    const size_t before = cores ? EntriesIn(*CoreFolder(folder_.Path())) : 0;
    kill(job.pid, signal);
    kill(job.pid, SIGCONT);
    const int status = WaitFor(job.pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_FALSE(WCOREDUMP(status));
    if (!cores) {
      std::cout << "[ SKIPPED  ] core file check: this system's core pattern hands cores to a program, "
                   "or it writes none even where allowed\n";
      return;
    }
    EXPECT_EQ(EntriesIn(*CoreFolder(folder_.Path())), before) << "a core file was written";
  }

  TempDir in_, out_, folder_, tmp_;
  std::string random_, zeros_;
  MaskedSecret secret_;
};

TEST_F(SecretsTest, EncryptRunningAndDumpedKeepsThePasswordAndTheFilesToItself) {
  const std::string pw = in_.Join("pw");
  const int fd = open(pw.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_TRUE(secret_.WriteTo(fd));
  close(fd);
  const Spawned job = Spawn({"-encrypt", "-password_file=" + pw, "-files=" + random_ + ";" + zeros_,
                             "-to_file=" + out_.Join("c.kvelv")},
                            folder_.Path(), tmp_.Path());
  ASSERT_GT(job.pid, 0);
  // The temporary archive, open in the job: found through the job's descriptors.
  std::string archive;
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code ec;
    for (const auto& fdEntry : fs::directory_iterator("/proc/" + std::to_string(job.pid) + "/fd", ec)) {
      const std::string target = fs::read_symlink(fdEntry.path(), ec).string();
      struct stat st {};
      if (target.rfind(tmp_.Path(), 0) == 0 && target.ends_with(".zip") && stat(fdEntry.path().c_str(), &st) == 0 &&
          st.st_size > (4 << 20) + 4096) {
        archive = fdEntry.path().string();
        return true;
      }
    }
    return false;
  })) << "the job never wrote the random file into its temporary archive";

  InspectThenDump(job, SIGQUIT, [&] {
    // The archive as it lies on the disk: no 64-byte run of the stored file, no ZIP signature.
    const std::string copy = test::ReadFile(archive);
    const std::string source = test::ReadFile(random_);
    ASSERT_GT(copy.size(), size_t{4} << 20);
    EXPECT_NE(copy.compare(0, 4, "PK\x03\x04"), 0);
    for (size_t at = 0; at + 64 <= source.size(); at += 65536 + 7)
      ASSERT_EQ(copy.find(source.substr(at, 64)), std::string::npos) << "bytes of the file at " << at;
  });
  EXPECT_FALSE(fs::exists(out_.Join("c.kvelv")));
  EXPECT_TRUE(test::WaitUntilEmpty(tmp_.Path())) << "the watcher removes the temporary archive";
}

// Both formats: a sealed container's password goes into the key derivation in place, and its
// keys live in secret storage too.
TEST_F(SecretsTest, DecryptRunningAndDumpedKeepsThePasswordToItself) {
  for (const char* format : {"-format=1", "-format=2"}) {
    SCOPED_TRACE(format);
    // A container made with the password on the command line; then decrypted the same way.
    std::string password;
    for (size_t i = 0; i < secret_.Size(); ++i) password += static_cast<char>(secret_.At(i));
    const std::vector<std::string> encrypt{"-encrypt", format, "-password=" + password,
                                           "-files=" + random_ + ";" + zeros_, "-to_file=" + out_.Join("c.kvelv")};
    const Spawned maker = Spawn(encrypt, folder_.Path(), tmp_.Path());
    ASSERT_EQ(WaitFor(maker.pid), 0);
    const std::string target = out_.Join(std::string("extracted") + (format + 8));  // no "=" in a value
    const Spawned job = Spawn({"-decrypt", "-password=" + password, "-file=" + out_.Join("c.kvelv"),
                               "-to_folder=" + target},
                              folder_.Path(), tmp_.Path());
    std::fill(password.begin(), password.end(), '\0');  // this process's own copies, for the scan
    ASSERT_GT(job.pid, 0);
    ASSERT_TRUE(WaitUntil([&] {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(target, ec))
        if (entry.path().filename().string().rfind(".~kvelv-", 0) == 0) return true;
      return false;
    })) << "the job never started extracting";
    InspectThenDump(job, SIGABRT, {});
  }
}

// The password given in a file or on a pipe is never on the command line, at any moment.
TEST_F(SecretsTest, PasswordFileKeepsThePasswordOffTheCommandLine) {
  const std::string pw = in_.Join("pw");
  const int fd = open(pw.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_TRUE(secret_.WriteTo(fd, "\r\n"));
  close(fd);
  const std::string container = out_.Join("small.kvelv");
  test::WriteFile(in_.Join("a.txt"), "alpha");
  Spawned maker = Spawn({"-encrypt", "-password_file=" + pw, "-files=" + in_.Join("a.txt"), "-to_file=" + container},
                        folder_.Path(), tmp_.Path());
  ASSERT_EQ(WaitFor(maker.pid), 0);
  size_t looks = 0;
  for (int run = 0; run < 50; ++run) {
    const bool piped = run % 2 == 1;
    const Spawned job = Spawn({"-decrypt", piped ? "-password_file=-" : "-password_file=" + pw, "-file=" + container,
                               "-to_folder=" + out_.Join("run" + std::to_string(run))},
                              folder_.Path(), tmp_.Path(), piped);
    if (piped) {
      ASSERT_TRUE(secret_.WriteTo(job.input, "\n"));
      close(job.input);
    }
    int status = 0;
    while (waitpid(job.pid, &status, WNOHANG) == 0) {
      EXPECT_FALSE(Contains(Cmdline(job.pid), secret_));
      ++looks;
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << run << ", status " << status;
    EXPECT_EQ(test::ReadFile(out_.Join("run" + std::to_string(run)) + "/a.txt"), "alpha");
  }
  EXPECT_GT(looks, 50u);
}

// Where the crypto library allows only approved algorithms (MD5 cannot be fetched), both jobs
// still run: the console program never fetches MD5.
TEST(ApprovedAlgorithmsOnly, BothJobsRunWithoutMd5) {
  if (test::UnderSanitizer()) GTEST_SKIP() << "a preloaded library cannot come before the sanitizer's runtime";
  const fs::path preload = fs::path(test::KvelvBinary()).parent_path().parent_path() / "tests" / "kvelv_test_no_md5.so";
  ASSERT_TRUE(fs::exists(preload)) << preload;
  TempDir dir;
  test::WriteFile(dir.Join("a.txt"), "alpha");
  const std::string script = "export LD_PRELOAD='" + preload.string() + "'; k='" + test::KvelvBinary() +
                             "'; \"$k\" -encrypt -password=pw -files=a.txt -to_file=c.kvelv && "
                             "\"$k\" -decrypt -password=pw -file=c.kvelv -to_folder=out";
  const auto result = test::RunProcess("/bin/sh", {"sh", "-c", script}, dir.Path());
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(test::ReadFile(dir.Join("out/a.txt")), "alpha");
}

}  // namespace
}  // namespace kvelv
