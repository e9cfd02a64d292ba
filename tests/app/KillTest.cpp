// The console binary killed (SIGKILL, or interrupted) at random points of an encryption and a
// decryption: no partial container under the target name or beside it, no file of the user's
// replaced by a partial one, and no plaintext left under any name, neither in $TMPDIR nor beside
// the target.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/support/FaultRun.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::FaultOptions;
using test::ListTree;
using test::RunUnderFault;
using test::TempDir;

constexpr int kRuns = 8;
// Text that would show up in any plaintext left behind (stored or deflated archives keep it in
// the local header name at least).
const std::string kMarker = "plaintext-marker-5f2c";

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Several files, one large: the job spends its time packing and encrypting.
    for (int i = 0; i < 4; ++i) {
      const std::string name = work_.Join(kMarker + std::to_string(i) + ".bin");
      test::WriteFile(name, test::RandomBytes(i == 0 ? (24 << 20) : (256 << 10), 10 + i));
      files_ += (files_.empty() ? "" : ";") + name;
    }
  }

  // Lets the job run alone once and returns how long it took, in microseconds.
  int64_t TimeFullRun(const std::vector<std::string>& args) {
    auto start = std::chrono::steady_clock::now();
    FaultOptions options;
    options.tmpDir = tmp_.Path();
    auto result = RunUnderFault(test::KvelvBinary(), args, options);
    EXPECT_EQ(result.exitCode, 0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  }

  // Nothing in `folder` may be a ZIP archive or hold the marker.
  static void ExpectNoPlaintextIn(const std::string& folder) {
    for (const std::string& name : ListTree(folder)) {
      const std::string path = folder + "/" + name;
      if (!fs::is_regular_file(path)) continue;
      const std::string bytes = test::ReadFile(path);
      EXPECT_NE(bytes.compare(0, 2, "PK"), 0) << "a ZIP archive was left: " << name;
      EXPECT_EQ(bytes.find(kMarker), std::string::npos) << "plaintext was left: " << name;
    }
  }

  TempDir work_;
  TempDir targets_;
  TempDir tmp_;
  std::string files_;
  std::mt19937 random_{20261208};
};

// Both container formats, the sealed one in fewer runs: its writing differs from the classic
// one's only in what goes into the same partial file.
struct Format {
  const char* option;
  int killed;       // runs of the killed encryption
  int interrupted;  // runs of the interrupted one, per signal
  // Same input, same container for the classic format; the sealed one has a new salt each time,
  // so only its length is the same.
  bool Same(const std::string& a, const std::string& b) const {
    return std::string(option) == "-format=1" ? a == b : a.size() == b.size();
  }
};
constexpr Format kFormats[] = {{"-format=1", kRuns, 10}, {"-format=2", 3, 2}};

TEST_F(KillTest, EncryptionKilledLeavesNoPartialContainerAndNoPlaintext) {
  const std::string target = targets_.Join("out.kvelv");
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.option);
    const std::vector<std::string> args{"-encrypt", format.option, "-password=pw", "-files=" + files_,
                                        "-to_file=" + target};
    const int64_t full = TimeFullRun(args);
    const std::string complete = test::ReadFile(target);
    fs::remove(target);

    for (int run = 0; run < format.killed; ++run) {
      FaultOptions options;
      options.tmpDir = tmp_.Path();
      options.killAfterMicros = static_cast<int>(std::uniform_int_distribution<int64_t>(0, full)(random_));
      auto result = RunUnderFault(test::KvelvBinary(), args, options);
      SCOPED_TRACE("killed after " + std::to_string(options.killAfterMicros) + " us");
      if (result.signal == 0) {
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(format.Same(test::ReadFile(target), complete)) << "the finished container differs";
      } else if (fs::exists(target)) {
        // Only a complete container may carry the target name.
        EXPECT_EQ(fs::file_size(target), complete.size());
      }
      EXPECT_TRUE(test::WaitUntilEmpty(tmp_.Path())) << ListTree(tmp_.Path()).front();
      ExpectNoPlaintextIn(targets_.Path());
      // The watcher removes the partial container beside the target too.
      for (int wait = 0; wait < 200 && ListTree(targets_.Path()).size() > (fs::exists(target) ? 1u : 0u); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      EXPECT_EQ(ListTree(targets_.Path()), fs::exists(target) ? std::vector<std::string>{"out.kvelv"}
                                                               : std::vector<std::string>{});
      fs::remove_all(targets_.Path());
      fs::create_directory(targets_.Path());
    }
  }
}

// SIGINT, SIGTERM and SIGHUP at random moments of an encryption over an older container: the
// target keeps the old container (or holds the complete new one, when the run got that far),
// and nothing temporary is left beside it or in $TMPDIR the moment the process has ended: the
// signal's own cleanup ran first. Started as nohup starts it, the run ignores SIGHUP.
TEST_F(KillTest, InterruptedEncryptionKeepsTheOldContainerAndLeavesNothing) {
  // A quarter of the data of the other cases is enough to reach every stage.
  std::string files = work_.Join(kMarker + "-6m.bin");
  test::WriteFile(files, test::RandomBytes(6 << 20, 20));
  for (int i = 1; i < 4; ++i) files += ";" + work_.Join(kMarker + std::to_string(i) + ".bin");
  const std::string target = targets_.Join("out.kvelv");
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.option);
    const std::vector<std::string> args{"-encrypt", format.option, "-password=pw", "-files=" + files,
                                        "-to_file=" + target};
    const int64_t full = TimeFullRun(args);
    const std::string complete = test::ReadFile(target);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      for (int i = 0; i < format.interrupted; ++i) {
        test::WriteFile(target, "old container");
        FaultOptions options;
        options.tmpDir = tmp_.Path();
        options.killSignal = signal;
        options.killAfterMicros = static_cast<int>(std::uniform_int_distribution<int64_t>(0, full)(random_));
        SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(options.killAfterMicros) +
                     " us");
        const auto result = RunUnderFault(test::KvelvBinary(), args, options);
        if (result.signal == 0) EXPECT_EQ(result.exitCode, 0);
        else EXPECT_EQ(result.signal, signal);
        const std::string now = test::ReadFile(target);
        EXPECT_TRUE(now == "old container" || format.Same(now, complete)) << "the target holds neither";
        EXPECT_EQ(ListTree(targets_.Path()), std::vector<std::string>{"out.kvelv"});
        EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();
      }
    }
    test::WriteFile(target, "old container");
    FaultOptions nohup;
    nohup.tmpDir = tmp_.Path();
    nohup.ignoreHangUp = true;
    nohup.killSignal = SIGHUP;
    nohup.killAfterMicros = static_cast<int>(full / 2);
    const auto result = RunUnderFault(test::KvelvBinary(), args, nohup);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(format.Same(test::ReadFile(target), complete));
  }
}

// Killed or interrupted at random moments of an extraction over the user's older files: every
// target name holds the old file or the complete new one, no staged file stays in the folder and
// no plaintext archive in $TMPDIR, wherever $TMPDIR points.
TEST_F(KillTest, DecryptionKilledKeepsEachFileOldOrCompleteNew) {
  const std::string container = work_.Join("c.kvelv");
  ASSERT_EQ(test::Encrypt(files_, container).exitCode, 0);
  const std::string folder = targets_.Join("out");
  const std::vector<std::string> args{"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder};
  const int64_t full = TimeFullRun(args);
  std::vector<std::string> names = ListTree(folder);
  std::vector<std::string> complete;
  for (const std::string& name : names) complete.push_back(test::ReadFile(folder + "/" + name));
  ASSERT_EQ(names.size(), 4u);

  // $TMPDIR as an absolute path, a relative one and a long one (over 1,200 bytes).
  const std::string longTmp = work_.Join(std::string(200, 'l') + "/" + std::string(200, 'o') + "/" +
                                        std::string(200, 'n') + "/" + std::string(200, 'g') + "/" +
                                        std::string(200, 't') + "/" + std::string(200, 'm'));
  fs::create_directories(longTmp);
  fs::create_directory(work_.Join("relative-tmp"));
  struct Place {
    std::string tmpDir;   // as given to the child
    std::string watched;  // the same folder from here
  };
  const std::vector<Place> places = {{tmp_.Path(), tmp_.Path()}, {"relative-tmp", work_.Join("relative-tmp")},
                                     {longTmp, longTmp}};

  int run = 0;
  for (int signal : {SIGKILL, SIGINT}) {
    for (int i = 0; i < 20; ++i, ++run) {
      fs::remove_all(folder);
      fs::create_directory(folder);
      for (const std::string& name : names) test::WriteFile(folder + "/" + name, "old " + name);
      const Place& place = places[static_cast<size_t>(run) % places.size()];
      FaultOptions options;
      options.tmpDir = place.tmpDir;
      options.workingDir = work_.Path();
      options.killSignal = signal;
      options.killAfterMicros = static_cast<int>(std::uniform_int_distribution<int64_t>(0, full)(random_));
      SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(options.killAfterMicros) +
                   " us, TMPDIR " + place.tmpDir.substr(0, 40));
      const auto result = RunUnderFault(test::KvelvBinary(), args, options);
      if (result.signal == 0) {
        EXPECT_EQ(result.exitCode, 0);
      }
      for (size_t n = 0; n < names.size(); ++n) {
        const std::string bytes = test::ReadFile(folder + "/" + names[n]);
        EXPECT_TRUE(bytes == "old " + names[n] || bytes == complete[n]) << names[n] << " holds neither";
      }
      // The guardian removes the staging folder and the decrypted archive after a kill.
      for (int wait = 0; wait < 200 && ListTree(folder).size() > names.size(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      EXPECT_EQ(ListTree(folder), names);
      EXPECT_TRUE(test::WaitUntilEmpty(place.watched)) << ListTree(place.watched).front();
    }
  }
}

}  // namespace
}  // namespace kvelv
