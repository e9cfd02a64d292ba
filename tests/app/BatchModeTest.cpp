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

const std::string kUsage =
    "Usage: kvelv.exe -decrypt|-encrypt -password=<password>\r\n"
    "[-file=<file to decrypt>|-files=<;-sep list of files to encrypt>]\r\n"
    "[-to_folder=<folder to decrypt files to>|-to_file=<filename of encrypted file>]\r\n";

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

TEST_F(BatchModeTest, NoArgumentsAsksForTheMode) {
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -encrypt/-decrypt\r\n" + kUsage);
  EXPECT_TRUE(jobs_.calls.empty());
}

TEST_F(BatchModeTest, ModeMessageComesBeforeThePasswordMessage) {
  EXPECT_EQ(Run({"-files=" + fileA_, "-to_file=x"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -encrypt/-decrypt\r\n" + kUsage);
}

TEST_F(BatchModeTest, MissingPasswordInEitherMode) {
  for (const char* mode : {"-encrypt", "-decrypt"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Run({mode, "-files=" + fileA_, "-file=" + fileA_, "-to_file=x", "-to_folder=y"}), 1);
    EXPECT_EQ(Out(), "Missing parameter: -password\r\n" + kUsage);
  }
  // An empty value between two "=" is present but empty: still missing.
  EXPECT_EQ(Run({"-encrypt", "-password==x", "-files=" + fileA_, "-to_file=x"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -password\r\n" + kUsage);
  EXPECT_TRUE(jobs_.calls.empty());
}

TEST_F(BatchModeTest, MissingTargetComesAfterTheInputs) {
  // A missing input wins over a missing target, as with the original order of the checks.
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-files=" + dir_.Join("none")}), 5);
  EXPECT_EQ(Out(), test::MissingFilesItem(dir_.Join("none")));
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-files=" + fileA_, "-to_file=\"\""}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -to_file\r\n" + kUsage);
  // -to_folder belongs to the other mode and does not count.
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-files=" + fileA_, "-to_folder=x"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -to_file\r\n" + kUsage);

  EXPECT_EQ(Run({"-decrypt", "-password=p", "-file=" + dir_.Join("none")}), 5);
  EXPECT_EQ(Out(), test::MissingFile(dir_.Join("none")));
  EXPECT_EQ(Run({"-decrypt", "-password=p", "-file=" + fileA_, "-to_file=x"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -to_folder\r\n" + kUsage);

  EXPECT_EQ(Run({"-decrypt", "-to_folder=x"}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -password\r\n" + kUsage);
  EXPECT_TRUE(jobs_.calls.empty());
}

TEST_F(BatchModeTest, DecryptSourceMustBeAnExistingFile) {
  EXPECT_EQ(Run({"-decrypt", "-password=p", "-to_folder=out", "-file=" + dir_.Path()}), 5);
  EXPECT_EQ(Out(), test::MissingFile(dir_.Path()));

  EXPECT_EQ(Run({"-decrypt", "-password=p", "-to_folder=out", "-file=" + dir_.Join("gone")}), 5);
  EXPECT_EQ(Out(), test::MissingFile(dir_.Join("gone")));

  EXPECT_EQ(Run({"-decrypt", "-password=p", "-to_folder=out"}), 5);
  EXPECT_EQ(Out(), test::MissingFile(""));
  EXPECT_TRUE(jobs_.calls.empty());
}

TEST_F(BatchModeTest, EncryptStopsAtTheFirstMissingItem) {
  const std::string missing = dir_.Join("missing.txt");
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-to_file=x",
                 "-files=" + fileA_ + ";" + missing + ";" + dir_.Join("other")}),
            5);
  EXPECT_EQ(Out(), test::MissingFilesItem(missing));

  // The empty middle item names no file.
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-to_file=x", "-files=" + fileA_ + ";;" + fileB_}), 5);
  EXPECT_EQ(Out(), test::MissingFilesItem(""));

  // A leading blank is part of the item.
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-to_file=x", "-files=" + fileA_ + "; " + fileB_}), 5);
  EXPECT_EQ(Out(), test::MissingFilesItem(" " + fileB_));

  // A folder is not a file.
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-to_file=x", "-files=" + dir_.Path()}), 5);
  EXPECT_EQ(Out(), test::MissingFilesItem(dir_.Path()));
  EXPECT_TRUE(jobs_.calls.empty());
}

// --- Reading the options -----------------------------------------------------------------------

TEST_F(BatchModeTest, IllegalParameterStopsReadingAndShowsOnlyTheName) {
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-files=" + fileA_, "-to_file=x", "-Bogus=1=2",
                 "-password"}),
            4);
  EXPECT_EQ(Out(), "Illegal parameter:-Bogus\r\n\r\n" + kUsage);
  EXPECT_TRUE(jobs_.calls.empty());

  EXPECT_EQ(Run({"encrypt"}), 4);
  EXPECT_EQ(Out(), "Illegal parameter:encrypt\r\n\r\n" + kUsage);
  // A near miss is not an option either, and "=x" has an empty name.
  EXPECT_EQ(Run({"-filess=a"}), 4);
  EXPECT_EQ(Out(), "Illegal parameter:-filess\r\n\r\n" + kUsage);
  EXPECT_EQ(Run({"=x"}), 4);
  EXPECT_EQ(Out(), "Illegal parameter:\r\n\r\n" + kUsage);
}

TEST_F(BatchModeTest, ArgumentsThatAreNotUtf8AreEchoedUnchanged) {
  const std::string raw = "-\xFF\xFE\xC3(";
  EXPECT_EQ(Run({raw + "=v"}), 4);
  EXPECT_EQ(Out(), "Illegal parameter:" + raw + "\r\n\r\n" + kUsage);
  EXPECT_EQ(Run({"-encrypt", "-password=p", "-to_file=x", "-files=\xFF\xFE"}), 5);
  EXPECT_EQ(Out(), test::MissingFilesItem("\xFF\xFE"));
}

TEST_F(BatchModeTest, ValueOptionWithoutValueEndsWithoutAJob) {
  for (const char* arg : {"-password", "-password=", "-FILES", "-to_folder=", "-file", "-to_file="}) {
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

TEST_F(BatchModeTest, EmptyArgumentsAreSkipped) {
  EXPECT_EQ(Run({"", "-encrypt", "", "-password=p", "-files=" + fileA_, "-to_file=t", ""}), 0);
  ASSERT_EQ(jobs_.calls.size(), 1u);
}

// --- Dispatch ------------------------------------------------------------------------------------

TEST_F(BatchModeTest, EncryptGetsTheSplitListAndReturnsTheJobsCode) {
  jobs_.result = 2;
  const std::string files = fileA_ + ";" + fileB_ + ";";  // trailing ";" adds no item
  EXPECT_EQ(Run({"-encrypt", "-password=Secret", "-files=" + files, "-to_file=/out/x.orvkvelv",
                 "-file=ignored", "-to_folder=ignored"}),
            2);
  EXPECT_EQ(Out(), "");
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "encrypt");
  EXPECT_EQ(jobs_.calls[0].password, "Secret");
  EXPECT_EQ(jobs_.calls[0].source, fileA_ + ";" + fileB_);  // the two items, joined again here
  EXPECT_EQ(jobs_.calls[0].target, "/out/x.orvkvelv");
}

TEST_F(BatchModeTest, DecryptGetsItsThreeValuesAndReturnsTheJobsCode) {
  jobs_.result = 3;
  EXPECT_EQ(Run({"-decrypt", "-password=pw", "-file=" + fileA_, "-to_folder=/out/dir",
                 "-files=nothing", "-to_file=ignored"}),
            3);
  EXPECT_EQ(Out(), "");
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "decrypt");
  EXPECT_EQ(jobs_.calls[0].password, "pw");
  EXPECT_EQ(jobs_.calls[0].source, fileA_);
  EXPECT_EQ(jobs_.calls[0].target, "/out/dir");
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
  EXPECT_THROW(Run({"-encrypt", "-format"}), EConvertError);
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

TEST_F(BatchModeTest, OptionNamesIgnoreCaseAndValuesKeepIt) {
  EXPECT_EQ(Run({"-ENCRYPT", "-PassWord=MiXeD", "-Files=" + fileA_, "-TO_FILE=Out.X"}), 0);
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "encrypt");
  EXPECT_EQ(jobs_.calls[0].password, "MiXeD");
  EXPECT_EQ(jobs_.calls[0].target, "Out.X");
}

TEST_F(BatchModeTest, ValueEndsAtTheSecondEqualsSignAndLosesItsDoubleQuotes) {
  EXPECT_EQ(Run({"-decrypt=x", "-password=a\"b=c", "-file=\"" + fileA_ + "\"", "-to_folder=\"d\""}),
            0);
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "decrypt");
  EXPECT_EQ(jobs_.calls[0].password, "ab");
  EXPECT_EQ(jobs_.calls[0].source, fileA_);
  EXPECT_EQ(jobs_.calls[0].target, "d");
}

TEST_F(BatchModeTest, LaterOccurrencesWin) {
  EXPECT_EQ(Run({"-decrypt", "-password=one", "-encrypt", "-password=two", "-files=" + fileB_,
                 "-to_file=t"}),
            0);
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "encrypt");
  EXPECT_EQ(jobs_.calls[0].password, "two");

  jobs_.calls.clear();
  EXPECT_EQ(Run({"-encrypt", "-decrypt", "-password=p", "-file=" + fileA_, "-to_folder=f"}), 0);
  ASSERT_EQ(jobs_.calls.size(), 1u);
  EXPECT_EQ(jobs_.calls[0].job, "decrypt");
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

TEST_F(BatchModeTest, PasswordFileThatGivesNothingIsAMissingPasswordOrAWrongParameter) {
  test::WriteFile(dir_.Join("empty"), "");
  test::WriteFile(dir_.Join("blank-line"), "\r\nsecond line\n");
  for (const char* name : {"empty", "blank-line"}) {
    EXPECT_EQ(Run({"-encrypt", "-password_file=" + dir_.Join(name), "-files=" + fileA_, "-to_file=x"}), 1) << name;
    EXPECT_EQ(Out(), "Missing parameter: -password\r\n" + kUsage);
  }
  // Like a missing input: exit code 5, after the mode and before the inputs are looked at.
  for (const std::string& path : {dir_.Join("missing"), dir_.Path()}) {
    EXPECT_EQ(Run({"-encrypt", "-password_file=" + path, "-files=" + dir_.Join("none"), "-to_file=x"}), 5);
    EXPECT_EQ(Out(), "Wrong parameter: -password_file=" + path + "\r\nFile does not exist.\r\n");
  }
  test::WriteFile(dir_.Join("long"), std::string(70000, 'x'));
  EXPECT_EQ(Run({"-decrypt", "-password_file=" + dir_.Join("long"), "-file=" + fileA_, "-to_folder=f"}), 5);
  EXPECT_EQ(Out(), "Wrong parameter: -password_file=" + dir_.Join("long") +
                       "\r\nFile cannot be read: its first line is longer than 65536 bytes.\r\n");
  EXPECT_EQ(Run({"-password_file=" + dir_.Join("missing")}), 1);
  EXPECT_EQ(Out(), "Missing parameter: -encrypt/-decrypt\r\n" + kUsage);
  EXPECT_THROW(Run({"-decrypt", "-password_file"}), EConvertError);
  EXPECT_TRUE(jobs_.calls.empty());
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
