// Fuzz harness: the batch command line. The input is split at NUL bytes into arguments and run
// through batch mode with jobs that only record the call. A job may only start with a
// password and a target; otherwise the exit code is one of batch mode's own. Standard input is
// empty, so that -password_file=- reads nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/BatchMode.h"

namespace {

class RecordingJobs : public kvelv::JobRunner {
 public:
  int Encrypt(const kvelv::platform::SecretBytes& password, const std::vector<std::string>&,
              const std::string& target, kvelv::ContainerFormat) override {
    Check(password, target);
    return 0;
  }
  int Decrypt(const kvelv::platform::SecretBytes& password, const std::string&, const std::string& folder,
              kvelv::ContainerFormat) override {
    Check(password, folder);
    return 0;
  }
  std::string LoginHash(const kvelv::platform::SecretBytes& password) override {
    Check(password, "-");
    return "$argon2id$";
  }
  bool called = false;

 private:
  void Check(const kvelv::platform::SecretBytes& password, const std::string& target) {
    if (called || password.Empty() || target.empty()) {
      std::fprintf(stderr, "job started without its parameters\n");
      std::abort();
    }
    called = true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool emptyInput = [] {
    const int null = open("/dev/null", O_RDONLY);
    return null >= 0 && dup2(null, STDIN_FILENO) >= 0 && close(null) == 0;
  }();
  (void)emptyInput;
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);

  std::ostringstream out;
  RecordingJobs jobs;
  try {
    const int code = kvelv::RunBatchMode(args, out, jobs);
    if (!jobs.called && code != 1 && code != 4 && code != 5) {
      std::fprintf(stderr, "unexpected exit code %d\n", code);
      std::abort();
    }
  } catch (const kvelv::EConvertError&) {
  }
  return 0;
}
