#include "tests/support/FaultRun.h"
#include "tests/support/TestPaths.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include "jobs/CryptComponent.h"
#include "jobs/JobCrypto.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

FaultResult RunUnderFault(const std::string& program, const std::vector<std::string>& args,
                          const FaultOptions& options) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (!options.errFile.empty()) {
      const int err = open(options.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err < 0) _exit(125);
      dup2(err, 2);
    }
    // As a user's shell starts it, whatever this test program was started with.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    if (options.ignoreHangUp) signal(SIGHUP, SIG_IGN);
    if (options.fileSizeLimit >= 0) {
      // Ignored, so a write past the limit fails with EFBIG as on a full disk.
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.memoryLimit >= 0 && !kUnderAddressSanitizer) {
      rlimit limit{static_cast<rlim_t>(options.memoryLimit), static_cast<rlim_t>(options.memoryLimit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (!options.tmpDir.empty()) setenv("TMPDIR", options.tmpDir.c_str(), 1);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (options.whileRunning) options.whileRunning();
  if (options.killAfterMicros >= 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(options.killAfterMicros));
    kill(pid, options.killSignal);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  FaultResult result;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

FaultResult Encrypt(const std::string& files, const std::string& target, const FaultOptions& options) {
  return RunUnderFault(test::KvelvBinary(), {"-encrypt", "-password=pw", "-files=" + files, "-to_file=" + target}, options);
}

FaultResult Decrypt(const std::string& container, const std::string& folder, const FaultOptions& options) {
  return RunUnderFault(test::KvelvBinary(), {"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder},
                       options);
}

std::vector<std::string> ListTree(const std::string& folder) {
  // A listing taken while the watcher removes things can stop early (a folder gone before it
  // was entered); such a pass is taken again, so a short list is never a removal half seen.
  for (int attempt = 0;; ++attempt) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      names.push_back(it->path().lexically_relative(folder).generic_string());
    if (ec && fs::exists(folder) && attempt < 100) continue;
    std::sort(names.begin(), names.end());
    return names;
  }
}


bool WhenAFileGrowsTo(const std::string& folder, int64_t size, const std::function<void()>& action) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      std::error_code sizeError;  // the file may go meanwhile
      const auto bytes = it->is_regular_file(sizeError) ? fs::file_size(it->path(), sizeError) : 0;
      if (!sizeError && static_cast<int64_t>(bytes) >= size) {
        action();
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}

bool WaitUntilEmpty(const std::string& folder) {
  for (int i = 0; i < 200; ++i) {
    if (fs::is_empty(folder)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return fs::is_empty(folder);
}

}  // namespace kvelv::test
