// The console's progress line: only on a terminal, at most a few times a second, erased before
// any other line and at the end; files and pipes get exactly what they always got.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "app/ConsoleProgress.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleProgress, LineShowsShareThroughputAndTimeLeft) {
  const struct {
    uint64_t done, total;
    double rate;
    const char* line;
  } cases[] = {
      {47, 100, 0, " 47%  -- MB/s  --:-- left"},
      {1'000'000, 10'000'000, 4.5e6, " 10%  4.5 MB/s  0:02 left"},
      {1'000'000, 8'000'000'000, 600e3, "  0%  600 kB/s  3:42:12 left"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressLine(c.done, c.total, c.rate), c.line);
}

TEST(ConsoleProgress, WaitsASecondRedrawsAtMostFourTimesASecondAndErases) {
  std::ostringstream out;
  ConsoleProgress::Clock::time_point now{};
  ConsoleProgress line(out, [&] { return now; });
  auto at = [&](std::chrono::milliseconds t, uint64_t done) {
    now = ConsoleProgress::Clock::time_point{} + t;
    line.Update({done, 100'000'000, "x"});
  };
  at(500ms, 10'000'000);
  EXPECT_EQ(out.str(), "");  // a short job shows nothing
  at(1000ms, 20'000'000);
  EXPECT_EQ(out.str(), "\r 20%  20 MB/s  0:04 left");
  at(1100ms, 99'000'000);  // too soon for another
  at(1250ms, 25'000'000);
  EXPECT_EQ(out.str(), "\r 20%  20 MB/s  0:04 left\r 25%  20 MB/s  0:04 left");
  out.str("");
  line.Erase();
  EXPECT_EQ(out.str(), "\r" + std::string(24, ' ') + "\r");
  out.str("");
  line.Erase();  // nothing shown, nothing to erase
  EXPECT_EQ(out.str(), "");
}

// The program on a pseudo-terminal (script) and in pipes, its reads slowed down so that the job
// runs a few seconds.
TEST(ConsoleProgress, OnlyATerminalGetsTheLine) {
  if (!std::filesystem::exists("/usr/bin/script")) GTEST_SKIP() << "script (bsdutils) is not installed";
  test::TempDir work;
  std::string data(6 << 20, 'a');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + (i * 2654435761u >> 7) % 16);
  test::WriteFile(work.Join("data.txt"), data);
  setenv("LD_PRELOAD", test::ThrottledReadLibrary(), 1);
  setenv("KVELV_THROTTLE_PATH", (work.Path() + "/").c_str(), 1);
  setenv("KVELV_THROTTLE_RATE", "3000000", 1);
  const std::string kvelv = test::KvelvBinary();

  const std::string encrypt = kvelv + " -encrypt -password=pw -files=data.txt -to_file=";
  // script needs an open standard input, even an empty one.
  const test::ProcessResult tty = test::RunProcess(
      "/bin/sh", {"sh", "-c", "script -q -e -c '" + encrypt + "tty.kvl >stdout.txt' /dev/null </dev/null"},
      work.Path());
  EXPECT_EQ(tty.exitCode, 0);
  EXPECT_TRUE(std::regex_match(tty.out, std::regex("(\r *[0-9]+%  [0-9.]+ [kM]B/s  [0-9:]+ left *)+\r +\r")))
      << tty.out;
  EXPECT_EQ(test::ReadFile(work.Join("stdout.txt")), "");

  for (const auto& args : std::vector<std::vector<std::string>>{
           {kvelv, "-encrypt", "-password=pw", "-files=data.txt", "-to_file=pipe.kvl"},
           {kvelv, "-decrypt", "-password=pw", "-file=tty.kvl", "-to_folder=ut"}}) {
    const test::ProcessResult piped = test::RunProcess(kvelv, args, work.Path());
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, "");
  }
  EXPECT_EQ(test::ReadFile(work.Join("ut/data.txt")), data);
}

}  // namespace
}  // namespace kvelv
