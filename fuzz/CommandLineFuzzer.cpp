// Fuzz harness: the batch command line. The input is split at NUL bytes into arguments and run
// through batch mode with jobs that only record the call. A job may only start with a
// password and a target; otherwise the exit code is one of batch mode's own.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/BatchMode.h"

namespace {

class RecordingJobs : public kvelv::JobRunner {
 public:
  int Encrypt(const std::string& password, const std::vector<std::string>&, const std::string& target,
              kvelv::ContainerFormat) override {
    Check(password, target);
    return 0;
  }
  int Decrypt(const std::string& password, const std::string&, const std::string& folder,
              kvelv::ContainerFormat) override {
    Check(password, folder);
    return 0;
  }
  std::string LoginHash(const std::string& password) override {
    Check(password, "-");
    return "$argon2id$";
  }
  bool called = false;

 private:
  void Check(const std::string& password, const std::string& target) {
    if (called || password.empty() || target.empty()) {
      std::fprintf(stderr, "job started without its parameters\n");
      std::abort();
    }
    called = true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
