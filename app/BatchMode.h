#pragma once
// Batch mode: reads the command line, checks it and runs exactly one job non-interactively.
// Its only outputs are fixed messages on standard output and the exit code.
#include <ostream>
#include <string>
#include <vector>

#include "jobs/ContainerFormat.h"
#include "platform/Error.h"
#include "platform/SecretBytes.h"

namespace kvelv {

// A value option given without a value ("-password", "-password="). Not caught by batch mode:
// it ends the run through the last-chance handler, before any job.
class EConvertError : public Error {
 public:
  using Error::Error;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// The two jobs, as batch mode calls them (non-interactive, nothing shown). Tests substitute it.
// The password is the UTF-8 text it was given as; `format` is the value of -format: the container
// to write, or the oldest one to accept.
class JobRunner {
 public:
  virtual ~JobRunner() = default;
  virtual int Encrypt(const platform::SecretBytes& password, const std::vector<std::string>& files,
                      const std::string& target, ContainerFormat format) = 0;
  virtual int Decrypt(const platform::SecretBytes& password, const std::string& container,
                      const std::string& folder, ContainerFormat format) = 0;
  // The Argon2id login hash of `password` in its encoded form; "" when it cannot be made.
  virtual std::string LoginHash(const platform::SecretBytes& password) = 0;
};

// Calls EncryptFiles / DecryptFileToFolder with interactive false. Nothing is asked; the reason
// of a failure and each notice go to `err` as one line (CR LF at the end). With `showProgress`
// (standard error is a terminal) a progress line is kept on `err` while a job runs longer than
// a second, and erased again (app/ConsoleProgress.h).
class BatchJobRunner final : public JobRunner {
 public:
  explicit BatchJobRunner(std::ostream& err, bool showProgress = false) : err_(err), showProgress_(showProgress) {}
  int Encrypt(const platform::SecretBytes& password, const std::vector<std::string>& files,
              const std::string& target, ContainerFormat format) override;
  int Decrypt(const platform::SecretBytes& password, const std::string& container,
              const std::string& folder, ContainerFormat format) override;
  std::string LoginHash(const platform::SecretBytes& password) override;

 private:
  std::ostream& err_;
  bool showProgress_;
};

// The usage text, three CRLF-terminated lines.
const std::string& UsageText();

// Runs batch mode over `args` (the program name excluded) and returns the exit code: the job's
// own when a job ran, else 1, 4 or 5 after writing the message to `out`. Each message is one
// write followed by a flush. Throws EConvertError for a value option without a value.
// The password goes straight into secret storage: the value of a -password argument is taken
// out of `args` (wiped there; the caller moves its only copy of the arguments in), and the one
// of -password_file=<path> ("-" for standard input) is read from the first line of that file,
// once all arguments are read and only when it is the later of the two.
int RunBatchMode(std::vector<std::string> args, std::ostream& out, JobRunner& jobs);

}  // namespace kvelv
