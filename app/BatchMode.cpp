#include "app/BatchMode.h"

#include <optional>

#include "app/ConsoleProgress.h"
#include "jobs/ConsoleTexts.h"
#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "jobs/ExitCodes.h"
#include "jobs/FileProbes.h"
#include "jobs/LoginHash.h"
#include "jobs/Prompter.h"

namespace kvelv {

namespace {

using console_text::kLineBreak;

struct Options {
  std::string mode;
  std::string password;
  std::string file;
  std::string files;
  std::string toFolder;
  std::string toFile;
  ContainerFormat format = ContainerFormat::Classic;
};

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string WithoutDoubleQuotes(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c != '"') result += c;
  }
  return result;
}

void Say(std::ostream& out, const std::string& text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
}

int MissingParameter(std::ostream& out, const std::string& option) {
  Say(out, console_text::kMissingParameter + option + kLineBreak);
  Say(out, UsageText());
  return exit_code::kMissingParameter;
}

std::string* ValueSlot(Options& options, const std::string& name) {
  if (name == "-password") return &options.password;
  if (name == "-file") return &options.file;
  if (name == "-files") return &options.files;
  if (name == "-to_folder") return &options.toFolder;
  if (name == "-to_file") return &options.toFile;
  return nullptr;
}

// Batch mode's side of the jobs: no questions (answered No), lines on standard error, and on a
// terminal the progress line, which steps aside for every other line.
class ConsolePrompter final : public Prompter {
 public:
  ConsolePrompter(std::ostream& err, bool showProgress) : err_(err) {
    if (showProgress) line_.emplace(err);
  }
  void ShowMessage(const std::string&) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void Notice(const std::string& text) override { Line(text); }
  void ReportFailure(const std::string& reason) override { Line(reason); }
  void Progress(const JobProgress& progress) override {
    if (line_) line_->Update(progress);
  }

 private:
  void Line(const std::string& text) {
    if (line_) line_->Erase();
    Say(err_, text + kLineBreak);
  }

  std::ostream& err_;
  std::optional<ConsoleProgress> line_;  // erased when the job's prompter goes
};

}  // namespace

int BatchJobRunner::Encrypt(const std::string& password, const std::vector<std::string>& files,
                            const std::string& target, ContainerFormat format) {
  ConsolePrompter prompter(err_, showProgress_);
  return EncryptFiles(password, files, target, false, prompter, format);
}

int BatchJobRunner::Decrypt(const std::string& password, const std::string& container,
                            const std::string& folder, ContainerFormat format) {
  ConsolePrompter prompter(err_, showProgress_);
  return DecryptFileToFolder(password, container, folder, false, prompter, format);
}

std::string BatchJobRunner::LoginHash(const std::string& password) { return MakeArgon2idLoginHash(password); }

const std::string& UsageText() {
  static const std::string text = console_text::kUsage;
  return text;
}

int RunBatchMode(const std::vector<std::string>& args, std::ostream& out, JobRunner& jobs) {
  Options options;
  for (const std::string& arg : args) {
    std::vector<std::string> items = SplitString(arg, "=");
    if (items.empty()) continue;
    std::string name = AsciiLower(items[0]);
    if (name == "-encrypt" || name == "-decrypt" || name == "-make_login_hash") {
      options.mode = name.substr(1);
    } else if (name == "-format") {
      // 1 or 2; any other value is refused like an unknown option.
      if (items.size() < 2) throw EConvertError(console_text::kMissingValue + items[0]);
      const std::string value = WithoutDoubleQuotes(items[1]);
      if (value != "1" && value != "2") {
        Say(out, console_text::kIllegalParameter + items[0] + "=" + items[1] + kLineBreak + kLineBreak);
        Say(out, UsageText());
        return exit_code::kIllegalParameter;
      }
      options.format = value == "2" ? ContainerFormat::Sealed : ContainerFormat::Classic;
    } else if (std::string* slot = ValueSlot(options, name)) {
      if (items.size() < 2) throw EConvertError(console_text::kMissingValue + items[0]);
      *slot = WithoutDoubleQuotes(items[1]);
    } else {
      Say(out, console_text::kIllegalParameter + items[0] + kLineBreak + kLineBreak);
      Say(out, UsageText());
      return exit_code::kIllegalParameter;
    }
  }

  // The checks in the design's order (mode, password, inputs), then the target.
  if (options.mode == "decrypt") {
    if (options.password.empty()) return MissingParameter(out, "-password");
    if (!FileExists(options.file)) {
      Say(out, console_text::kWrongFileParameter + options.file + kLineBreak + console_text::kFileDoesNotExist);
      return exit_code::kFileMissing;
    }
    if (options.toFolder.empty()) return MissingParameter(out, "-to_folder");
    return jobs.Decrypt(options.password, options.file, options.toFolder, options.format);
  }
  if (options.mode == "encrypt") {
    if (options.password.empty()) return MissingParameter(out, "-password");
    const std::vector<std::string> files = SplitString(options.files, ";");
    for (const std::string& item : files) {
      if (!FileExists(item)) {
        Say(out, console_text::kWrongFilesParameter + item + kLineBreak + console_text::kFileDoesNotExist + kLineBreak);
        return exit_code::kFileMissing;
      }
    }
    if (options.toFile.empty()) return MissingParameter(out, "-to_file");
    return jobs.Encrypt(options.password, files, options.toFile, options.format);
  }
  if (options.mode == "make_login_hash") {
    // The settings file's line for an Argon2id login hash of the password, on standard output.
    if (options.password.empty()) return MissingParameter(out, "-password");
    const std::string hash = jobs.LoginHash(options.password);
    if (hash.empty()) throw Error("The login hash cannot be made");
    Say(out, "hash=" + hash + kLineBreak);
    return exit_code::kDone;
  }
  return MissingParameter(out, "-encrypt/-decrypt");
}

}  // namespace kvelv
