// Batch mode in-process: the option reading, the order of the checks, every message byte for byte
// and which job runs with which values. The jobs are replaced by a recorder.
#include "app/BatchMode.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/LastChance.h"
#include "jobs/LoginHash.h"
#include "tests/support/ConsoleMessages.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using test::kUsage;

struct JobCall {
  std::string job;  // "encrypt" or "decrypt"
  std::string password;
  std::string source;
  std::string target;
  int format = 1;
};

class RecordingJobs : public JobRunner {
 public:
  int Encrypt(const platform::SecretBytes& password, const std::vector<std::string>& files,
              const std::string& target, ContainerFormat format) override {
    std::string joined;  // the list as one text, to compare with what was given
    for (const std::string& file : files) joined += (joined.empty() ? "" : ";") + file;
    calls.push_back({"encrypt", std::string(password.View()), joined, target, static_cast<int>(format)});
    return result;
  }
  int Decrypt(const platform::SecretBytes& password, const std::string& container,
              const std::string& folder, ContainerFormat format) override {
    calls.push_back({"decrypt", std::string(password.View()), container, folder, static_cast<int>(format)});
    return result;
  }
  std::string LoginHash(const platform::SecretBytes& password) override {
    calls.push_back({"login hash", std::string(password.View()), "", "", 0});
    return MakeArgon2idLoginHash(password.View());
  }
  std::vector<JobCall> calls;
  int result = 0;
};

// Collects what is written between flushes, so each message can be checked as one write.
class FlushRecorder : public std::streambuf {
 public:
  std::vector<std::string> flushed;
  std::string pending;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) pending += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    pending.append(data, static_cast<std::size_t>(count));
    return count;
  }
  int sync() override {
    if (!pending.empty()) flushed.push_back(pending);
    pending.clear();
    return 0;
  }
};

class BatchModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileA_ = dir_.Join("a.txt");
    fileB_ = dir_.Join("b.txt");
    test::WriteFile(fileA_, "alpha");
    test::WriteFile(fileB_, "beta");
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    return RunBatchMode(args, out_, jobs_);
  }
  std::string Out() const { return out_.str(); }

  test::TempDir dir_;
  std::string fileA_;
  std::string fileB_;
  std::ostringstream out_;
  RecordingJobs jobs_;
};

// --- Checks that stop before a job -------------------------------------------------------------

// Each row: the arguments, the exit code and the whole output; no job runs. The checks come in a
// fixed order: the mode, the password, the inputs, then the target.
TEST_F(BatchModeTest, ChecksStopBeforeAJobInTheirOrder) {
  const std::string none = dir_.Join("none");
  const std::string missing = dir_.Join("missing.txt");
  const std::string raw = "-\xFF\xFE\xC3(";  // not UTF-8: echoed unchanged
  test::WriteFile(dir_.Join("empty"), "");
  test::WriteFile(dir_.Join("blank-line"), "\r\nsecond line\n");
  test::WriteFile(dir_.Join("long"), std::string(70000, 'x'));
  auto missingParameter = [](const std::string& name) { return "Missing parameter: " + name + "\r\n" + kUsage; };
  auto illegal = [](const std::string& name) { return "Illegal parameter:" + name + "\r\n\r\n" + kUsage; };
  auto wrongPasswordFile = [](const std::string& path, const std::string& why) {
    return "Wrong parameter: -password_file=" + path + "\r\n" + why + "\r\n";
  };
  auto refused = [&](const char* why, int code, const std::string& out, const std::vector<std::string>& args) {
    SCOPED_TRACE(why);
    EXPECT_EQ(Run(args), code);
    EXPECT_EQ(Out(), out);
    EXPECT_TRUE(jobs_.calls.empty());
  };
  refused("no arguments asks for the mode", 1, missingParameter("-encrypt/-decrypt"), {});
  refused("the mode comes before the password", 1, missingParameter("-encrypt/-decrypt"),
          {"-files=" + fileA_, "-to_file=x"});
  refused("no password to encrypt", 1, missingParameter("-password"),
          {"-encrypt", "-files=" + fileA_, "-file=" + fileA_, "-to_file=x", "-to_folder=y"});
  refused("no password to decrypt", 1, missingParameter("-password"),
          {"-decrypt", "-files=" + fileA_, "-file=" + fileA_, "-to_file=x", "-to_folder=y"});
  refused("an empty value between two \"=\" is present but empty", 1, missingParameter("-password"),
          {"-encrypt", "-password==x", "-files=" + fileA_, "-to_file=x"});
  refused("the password before the target", 1, missingParameter("-password"), {"-decrypt", "-to_folder=x"});
  // A missing input wins over a missing target, as with the original order of the checks.
  refused("a missing input before the encrypt target", 5, test::MissingFilesItem(none),
          {"-encrypt", "-password=p", "-files=" + none});
  refused("a quoted empty target", 1, missingParameter("-to_file"),
          {"-encrypt", "-password=p", "-files=" + fileA_, "-to_file=\"\""});
  refused("-to_folder belongs to the other mode", 1, missingParameter("-to_file"),
          {"-encrypt", "-password=p", "-files=" + fileA_, "-to_folder=x"});
  refused("a missing input before the decrypt target", 5, test::MissingFile(none),
          {"-decrypt", "-password=p", "-file=" + none});
  refused("-to_file belongs to the other mode", 1, missingParameter("-to_folder"),
          {"-decrypt", "-password=p", "-file=" + fileA_, "-to_file=x"});
  // The container must be an existing file.
  refused("a folder as container", 5, test::MissingFile(dir_.Path()),
          {"-decrypt", "-password=p", "-to_folder=out", "-file=" + dir_.Path()});
  refused("a missing container", 5, test::MissingFile(dir_.Join("gone")),
          {"-decrypt", "-password=p", "-to_folder=out", "-file=" + dir_.Join("gone")});
  refused("no container", 5, test::MissingFile(""), {"-decrypt", "-password=p", "-to_folder=out"});
  // Encrypt stops at the first missing item.
  refused("the first missing item", 5, test::MissingFilesItem(missing),
          {"-encrypt", "-password=p", "-to_file=x", "-files=" + fileA_ + ";" + missing + ";" + none});
  refused("the empty middle item names no file", 5, test::MissingFilesItem(""),
          {"-encrypt", "-password=p", "-to_file=x", "-files=" + fileA_ + ";;" + fileB_});
  refused("a leading blank is part of the item", 5, test::MissingFilesItem(" " + fileB_),
          {"-encrypt", "-password=p", "-to_file=x", "-files=" + fileA_ + "; " + fileB_});
  refused("a folder is not a file", 5, test::MissingFilesItem(dir_.Path()),
          {"-encrypt", "-password=p", "-to_file=x", "-files=" + dir_.Path()});
  refused("item not UTF-8", 5, test::MissingFilesItem("\xFF\xFE"),
          {"-encrypt", "-password=p", "-to_file=x", "-files=\xFF\xFE"});
  // An illegal parameter stops the reading and shows only its name.
  refused("an illegal parameter", 4, illegal("-Bogus"),
          {"-encrypt", "-password=p", "-files=" + fileA_, "-to_file=x", "-Bogus=1=2", "-password"});
  refused("a mode without its dash", 4, illegal("encrypt"), {"encrypt"});
  refused("a near miss", 4, illegal("-filess"), {"-filess=a"});
  refused("an empty name", 4, illegal(""), {"=x"});
  refused("a name not UTF-8", 4, illegal(raw), {raw + "=v"});
  // A password file that gives nothing is a missing password; one that cannot be read, a
  // wrong parameter (like a missing input: after the mode, before the inputs).
  refused("an empty password file", 1, missingParameter("-password"),
          {"-encrypt", "-password_file=" + dir_.Join("empty"), "-files=" + fileA_, "-to_file=x"});
  refused("a password file with a blank first line", 1, missingParameter("-password"),
          {"-encrypt", "-password_file=" + dir_.Join("blank-line"), "-files=" + fileA_, "-to_file=x"});
  refused("a missing password file", 5, wrongPasswordFile(dir_.Join("missing"), "File does not exist."),
          {"-encrypt", "-password_file=" + dir_.Join("missing"), "-files=" + none, "-to_file=x"});
  refused("a folder as password file", 5, wrongPasswordFile(dir_.Path(), "File does not exist."),
          {"-encrypt", "-password_file=" + dir_.Path(), "-files=" + none, "-to_file=x"});
  refused("a password file with an overlong first line", 5,
          wrongPasswordFile(dir_.Join("long"), "File cannot be read: its first line is longer than 65536 bytes."),
          {"-decrypt", "-password_file=" + dir_.Join("long"), "-file=" + fileA_, "-to_folder=f"});
  refused("the mode before the password file", 1, missingParameter("-encrypt/-decrypt"),
          {"-password_file=" + dir_.Join("missing")});
}

// --- Reading the options -----------------------------------------------------------------------

TEST_F(BatchModeTest, ValueOptionWithoutValueEndsWithoutAJob) {
  for (const char* arg :
       {"-password", "-password=", "-FILES", "-to_folder=", "-file", "-to_file=", "-format", "-password_file"}) {
    SCOPED_TRACE(arg);
    try {
      Run({"-encrypt", arg, "-password=p", "-files=" + fileA_, "-to_file=x"});
      ADD_FAILURE() << "no error raised";
    } catch (const EConvertError& e) {
      std::string name = std::string(arg).substr(0, std::string(arg).find('='));
      EXPECT_EQ(std::string(e.what()), "Missing value for option " + name);
    }
    EXPECT_EQ(Out(), "");
  }
  EXPECT_TRUE(jobs_.calls.empty());
}

TEST_F(BatchModeTest, ValueOptionWithoutValueReachesTheLastChanceReport) {
  std::ostringstream err;
  int code = RunWithLastChance([&] { return Run({"-decrypt", "-password"}); }, err);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err.str(), "EConvertError: Missing value for option -password\r\n");
  EXPECT_TRUE(jobs_.calls.empty());
}

// --- Dispatch ------------------------------------------------------------------------------------

// Each row: the arguments and the one job call they make; the run returns the job's exit code and
// writes nothing itself.
TEST_F(BatchModeTest, JobGetsItsValuesAndItsCodeIsTheRunsCode) {
  int result = 10;
  auto runs = [&](const char* why, const JobCall& call, const std::vector<std::string>& args) {
    SCOPED_TRACE(why);
    jobs_.calls.clear();
    jobs_.result = ++result;
    EXPECT_EQ(Run(args), result);
    EXPECT_EQ(Out(), "");
    ASSERT_EQ(jobs_.calls.size(), 1u);
    EXPECT_EQ(jobs_.calls[0].job, call.job);
    EXPECT_EQ(jobs_.calls[0].password, call.password);
    EXPECT_EQ(jobs_.calls[0].source, call.source);
    EXPECT_EQ(jobs_.calls[0].target, call.target);
    EXPECT_EQ(jobs_.calls[0].format, 1);
  };
  runs("encrypt gets the split list (a trailing \";\" adds no item), the other mode's options ignored",
       {"encrypt", "Secret", fileA_ + ";" + fileB_, "/out/x.orvkvelv"},
       {"-encrypt", "-password=Secret", "-files=" + fileA_ + ";" + fileB_ + ";", "-to_file=/out/x.orvkvelv",
        "-file=ignored", "-to_folder=ignored"});
  runs("decrypt gets its three values", {"decrypt", "pw", fileA_, "/out/dir"},
       {"-decrypt", "-password=pw", "-file=" + fileA_, "-to_folder=/out/dir", "-files=nothing", "-to_file=ignored"});
  runs("empty arguments are skipped", {"encrypt", "p", fileA_, "t"},
       {"", "-encrypt", "", "-password=p", "-files=" + fileA_, "-to_file=t", ""});
  runs("option names ignore case and values keep it", {"encrypt", "MiXeD", fileA_, "Out.X"},
       {"-ENCRYPT", "-PassWord=MiXeD", "-Files=" + fileA_, "-TO_FILE=Out.X"});
  runs("a value ends at the second \"=\" and loses its double quotes", {"decrypt", "ab", fileA_, "d"},
       {"-decrypt=x", "-password=a\"b=c", "-file=\"" + fileA_ + "\"", "-to_folder=\"d\""});
  runs("the later mode and password win", {"encrypt", "two", fileB_, "t"},
       {"-decrypt", "-password=one", "-encrypt", "-password=two", "-files=" + fileB_, "-to_file=t"});
  runs("the later mode wins", {"decrypt", "p", fileA_, "f"},
       {"-encrypt", "-decrypt", "-password=p", "-file=" + fileA_, "-to_folder=f"});
}

TEST_F(BatchModeTest, FormatOptionReachesBothJobsAndRefusesOtherValues) {
  const struct {
    std::vector<std::string> format;
    int code;
    int passed;  // the format the job got; 0: no job
    std::string out;
  } cases[] = {
      {{}, 0, 1, ""},
      {{"-format=1"}, 0, 1, ""},
      {{"-FORMAT=\"2\""}, 0, 2, ""},
      {{"-format=2", "-format=1"}, 0, 1, ""},
      {{"-format=3"}, 4, 0, "Illegal parameter:-format=3\r\n\r\n" + kUsage},
      {{"-Format=02", "-bogus"}, 4, 0, "Illegal parameter:-Format=02\r\n\r\n" + kUsage},
      {{"-format=sealed=2"}, 4, 0, "Illegal parameter:-format=sealed\r\n\r\n" + kUsage},
  };
  for (const char* mode : {"-encrypt", "-decrypt"}) {
    for (const auto& c : cases) {
      jobs_.calls.clear();
      std::vector<std::string> args = {mode, "-password=pw", "-files=" + fileA_, "-to_file=x", "-file=" + fileA_,
                                       "-to_folder=d"};
      args.insert(args.end(), c.format.begin(), c.format.end());
      EXPECT_EQ(Run(args), c.code) << mode << " " << ::testing::PrintToString(c.format);
      EXPECT_EQ(Out(), c.out);
      ASSERT_EQ(jobs_.calls.size(), c.passed == 0 ? 0u : 1u);
      if (c.passed != 0) {
        EXPECT_EQ(jobs_.calls[0].format, c.passed);
      }
    }
  }
}

TEST_F(BatchModeTest, MakeLoginHashPrintsTheSettingsLine) {
  EXPECT_EQ(Run({"-make_login_hash"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -password\r\n" + kUsage);
  EXPECT_EQ(Run({"-Make_Login_Hash", "-password=bl\xC3\xA5" "b\xC3\xA6r"}), 0);
  const std::string line = Out();
  ASSERT_EQ(line.rfind("hash=$argon2id$v=19$m=65536,t=3,p=1$", 0), 0u) << line;
  ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
  const std::string hash = line.substr(5, line.size() - 7);
  EXPECT_TRUE(CheckArgon2idLoginHash(hash, "bl\xC3\xA5" "b\xC3\xA6r"));
  EXPECT_FALSE(CheckArgon2idLoginHash(hash, "blabaer"));
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "login hash");
  // The password kept off the command line, from a file (or "-", standard input, alike).
  const std::string file = dir_.Join("pw");
  test::WriteFile(file, "fra fil\n");
  EXPECT_EQ(Run({"-make_login_hash", "-password_file=" + file}), 0);
  ASSERT_EQ(jobs_.calls.size(), 2u);
  EXPECT_EQ(jobs_.calls[1].password, "fra fil");
  EXPECT_EQ(Run({"-make_login_hash", "-password_file=" + dir_.Join("missing")}), 5);
}

TEST_F(BatchModeTest, AJobFailureReachesTheLastChanceReport) {
  class ThrowingJobs : public RecordingJobs {
   public:
    int Decrypt(const platform::SecretBytes&, const std::string&, const std::string&, ContainerFormat) override {
      throw Error("disk on fire");
    }
  } throwing;
  std::ostringstream err;
  int code = RunWithLastChance(
      [&] {
        return RunBatchMode({"-decrypt", "-password=p", "-file=" + fileA_, "-to_folder=f"}, out_,
                            throwing);
      },
      err);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err.str(), "Exception: disk on fire\r\n");
}

// --- The password from a file --------------------------------------------------------------------

TEST_F(BatchModeTest, PasswordFileGivesThePasswordAndTheLaterOptionWins) {
  const std::string file = dir_.Join("pw");
  test::WriteFile(file, "fra \"fil\"=1\r\nignored\n");  // the line as it is: quotes and "=" kept
  const std::vector<std::string> decrypt = {"-decrypt", "-file=" + fileA_, "-to_folder=f"};
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.begin(), decrypt.begin(), decrypt.end());
    jobs_.calls.clear();
    EXPECT_EQ(Run(options), 0);
    return jobs_.calls.size() == 1 ? jobs_.calls[0].password : std::string("no job");
  };
  EXPECT_EQ(run({"-PASSWORD_FILE=\"" + file + "\""}), "fra \"fil\"=1");
  EXPECT_EQ(run({"-password=arg", "-password_file=" + file}), "fra \"fil\"=1");
  EXPECT_EQ(run({"-password_file=" + file, "-password=arg"}), "arg");
  // The later option wins before the file is read: a missing file given first does not matter.
  EXPECT_EQ(run({"-password_file=" + dir_.Join("missing"), "-password=arg"}), "arg");
}

// --- Output shape ------------------------------------------------------------------------------

TEST_F(BatchModeTest, EachMessageIsOneFlushedWrite) {
  FlushRecorder recorder;
  std::ostream out(&recorder);
  EXPECT_EQ(RunBatchMode({"-decrypt"}, out, jobs_), 1);
  EXPECT_EQ(recorder.flushed,
            (std::vector<std::string>{"Missing parameter: -password\r\n", kUsage}));
  EXPECT_EQ(recorder.pending, "");

  recorder.flushed.clear();
  EXPECT_EQ(RunBatchMode({"-x"}, out, jobs_), 4);
  EXPECT_EQ(recorder.flushed, (std::vector<std::string>{"Illegal parameter:-x\r\n\r\n", kUsage}));

  recorder.flushed.clear();
  EXPECT_EQ(RunBatchMode({"-decrypt", "-password=p", "-to_folder=f", "-file=nope"}, out, jobs_), 5);
  EXPECT_EQ(recorder.flushed,
            (std::vector<std::string>{test::MissingFile("nope")}));
}

TEST(UsageText, IsTheThreeLines) { EXPECT_EQ(UsageText(), kUsage); }

// The fixed texts themselves, as the design words them; the other tests build on them.
TEST(ConsoleTexts, AreTheDesignsOwn) {
  EXPECT_STREQ(console_text::kFileDoesNotExist, "File does not exist.");
  EXPECT_EQ(test::MissingFilesItem("a.txt"), "Wrong parameter: -files=a.txt\r\nFile does not exist.\r\n");
  EXPECT_EQ(test::MissingFile("c.kvl"), "Wrong parameter: -file=c.kvl\r\nFile does not exist.");
  EXPECT_STREQ(console_text::kMissingParameter, "Missing parameter: ");
  EXPECT_STREQ(console_text::kIllegalParameter, "Illegal parameter:");
}

}  // namespace
}  // namespace kvelv
