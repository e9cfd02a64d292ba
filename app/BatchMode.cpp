#include "app/BatchMode.h"

#include <optional>
#include <string_view>
#include <system_error>

#include "app/ConsoleProgress.h"
#include "jobs/ConsoleTexts.h"
#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "jobs/ExitCodes.h"
#include "jobs/FileProbes.h"
#include "jobs/LoginHash.h"
#include "jobs/Prompter.h"
#include "platform/FileSystem.h"
#include "platform/SecretLine.h"

namespace kvelv {

namespace {

using console_text::kLineBreak;
using platform::SecretBytes;

struct Options {
  std::string mode;
  SecretBytes password;
  std::optional<std::string> passwordFile;  // set when -password_file came after any -password
  std::string file;
  std::string files;
  std::string toFolder;
  std::string toFile;
  ContainerFormat format = ContainerFormat::Classic;
};

// Items 0 and 1 of SplitString(argument, "="), read in place: the name, and the value between
// the first and the second "=" when there is one. Nothing of the argument is copied, so that a
// password in it stays in one place.
struct OptionParts {
  std::string_view name;
  bool hasValue = false;
  std::string_view value;
};

OptionParts SplitOption(std::string_view argument) {
  const size_t equals = argument.find('=');
  if (equals == std::string_view::npos) return {argument, false, {}};
  const std::string_view rest = argument.substr(equals + 1);
  // "-x=" splits into one item: the empty item after the "=" is dropped.
  if (rest.empty()) return {argument.substr(0, equals), false, {}};
  return {argument.substr(0, equals), true, rest.substr(0, rest.find('='))};
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string WithoutDoubleQuotes(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c != '"') result += c;
  }
  return result;
}

SecretBytes SecretWithoutDoubleQuotes(std::string_view text) {
  SecretBytes result;
  result.Reserve(text.size());  // no move while it grows
  for (const char& c : text) {
    if (c != '"') result.Append(&c, 1);
  }
  return result;
}

void Wipe(std::string& argument) { platform::WipeMemory(argument.data(), argument.capacity()); }

// Whatever way batch mode is left, no argument keeps a password: the ones not read yet (after an
// illegal one) are wiped with the others.
class WipedArguments {
 public:
  explicit WipedArguments(std::vector<std::string>& args) : args_(args) {}
  ~WipedArguments() {
    for (std::string& argument : args_) Wipe(argument);
  }
  WipedArguments(const WipedArguments&) = delete;
  WipedArguments& operator=(const WipedArguments&) = delete;

 private:
  std::vector<std::string>& args_;
};

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
  if (name == "-file") return &options.file;
  if (name == "-files") return &options.files;
  if (name == "-to_folder") return &options.toFolder;
  if (name == "-to_file") return &options.toFile;
  return nullptr;
}

// Reads the password from the file -password_file named, when it came last. A file that cannot
// be read ends the run like a missing input (exit code 5); the result is that code, or 0.
int ReadPasswordFile(Options& options, std::ostream& out) {
  if (!options.passwordFile) return 0;
  const std::string& path = *options.passwordFile;
  std::error_code ec;
  options.password = path == "-" ? platform::ReadSecretLineFromStandardInput(ec) : platform::ReadSecretLine(path, ec);
  if (!ec) return 0;
  std::string reason = console_text::kFileDoesNotExist;
  if (ec == std::errc::value_too_large) {
    reason = console_text::kPasswordLineTooLong;
  } else if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory &&
             ec != std::errc::is_a_directory) {
    reason = console_text::kCannotReadFile + ec.message();
  }
  Say(out, console_text::kWrongPasswordFileParameter + path + kLineBreak + reason + kLineBreak);
  return exit_code::kFileMissing;
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

int BatchJobRunner::Encrypt(const SecretBytes& password, const std::vector<std::string>& files,
                            const std::string& target, ContainerFormat format) {
  ConsolePrompter prompter(err_, showProgress_);
  return EncryptFiles(password, files, target, JobMode::Batch, prompter, format);
}

int BatchJobRunner::Decrypt(const SecretBytes& password, const std::string& container,
                            const std::string& folder, ContainerFormat format) {
  ConsolePrompter prompter(err_, showProgress_);
  return DecryptFileToFolder(password, container, folder, JobMode::Batch, prompter, format);
}

std::string BatchJobRunner::LoginHash(const SecretBytes& password) { return MakeArgon2idLoginHash(password.View()); }

const std::string& UsageText() {
  static const std::string text = console_text::kUsage;
  return text;
}

int RunBatchMode(std::vector<std::string> args, std::ostream& out, JobRunner& jobs) {
  WipedArguments wiped(args);
  Options options;
  for (std::string& arg : args) {
    if (arg.empty()) continue;
    const OptionParts parts = SplitOption(arg);
    const std::string name = AsciiLower(parts.name);
    if (name == "-encrypt" || name == "-decrypt" || name == "-make_login_hash") {
      options.mode = name.substr(1);
    } else if (name == "-format") {
      // 1 or 2; any other value is refused like an unknown option.
      if (!parts.hasValue) throw EConvertError(console_text::kMissingValue + std::string(parts.name));
      const std::string value = WithoutDoubleQuotes(parts.value);
      if (value != "1" && value != "2") {
        Say(out, console_text::kIllegalParameter + std::string(parts.name) + "=" + std::string(parts.value) +
                     kLineBreak + kLineBreak);
        Say(out, UsageText());
        return exit_code::kIllegalParameter;
      }
      options.format = value == "2" ? ContainerFormat::Sealed : ContainerFormat::Classic;
    } else if (name == "-password" || name == "-password_file" || ValueSlot(options, name) != nullptr) {
      if (!parts.hasValue) throw EConvertError(console_text::kMissingValue + std::string(parts.name));
      if (name == "-password") {
        options.password = SecretWithoutDoubleQuotes(parts.value);
        options.passwordFile.reset();
        Wipe(arg);  // the argument was the hand-over; the secret storage holds the only copy now
      } else if (name == "-password_file") {
        options.passwordFile = WithoutDoubleQuotes(parts.value);
        options.password.Clear();
      } else {
        *ValueSlot(options, name) = WithoutDoubleQuotes(parts.value);
      }
    } else {
      Say(out, console_text::kIllegalParameter + std::string(parts.name) + kLineBreak + kLineBreak);
      Say(out, UsageText());
      return exit_code::kIllegalParameter;
    }
  }

  // The checks in the design's order (mode, password, inputs), then the target. A password file
  // is read at the password's turn: it counts as the password, and one that cannot be read is
  // reported like a missing input.
  const bool decrypt = options.mode == "decrypt";
  const bool loginHash = options.mode == "make_login_hash";
  if (!decrypt && !loginHash && options.mode != "encrypt") return MissingParameter(out, "-encrypt/-decrypt");
  if (const int code = ReadPasswordFile(options, out); code != 0) return code;
  if (options.password.Empty()) return MissingParameter(out, "-password");
  if (loginHash) {
    // The settings file's line for an Argon2id login hash of the password, on standard output.
    const std::string hash = jobs.LoginHash(options.password);
    if (hash.empty()) throw Error("The login hash cannot be made");
    Say(out, "hash=" + hash + kLineBreak);
    return exit_code::kDone;
  }
  if (decrypt) {
    if (!platform::FileExists(options.file)) {
      Say(out, console_text::kWrongFileParameter + options.file + kLineBreak + console_text::kFileDoesNotExist);
      return exit_code::kFileMissing;
    }
    if (options.toFolder.empty()) return MissingParameter(out, "-to_folder");
    return jobs.Decrypt(options.password, options.file, options.toFolder, options.format);
  }
  const std::vector<std::string> files = SplitString(options.files, ";");
  for (const std::string& item : files) {
    if (!platform::FileExists(item)) {
      Say(out, console_text::kWrongFilesParameter + item + kLineBreak + console_text::kFileDoesNotExist + kLineBreak);
      return exit_code::kFileMissing;
    }
  }
  if (options.toFile.empty()) return MissingParameter(out, "-to_file");
  return jobs.Encrypt(options.password, files, options.toFile, options.format);
}

}  // namespace kvelv
