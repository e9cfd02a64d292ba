#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace kvelv::test {

namespace fs = std::filesystem;

namespace {

std::string TempRoot() {
  const char* env = std::getenv("TMPDIR");
  std::error_code ec;
  if (env != nullptr && *env != '\0' && fs::is_directory(env, ec)) return env;
  return "/tmp";
}

// Gives the owner full rights on every folder below `root`, so removal works after tests
// made folders read-only (matters when not running as root).
void MakeRemovable(const fs::path& root) {
  std::error_code ec;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = TempRoot();
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  pattern += "/kvelv-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create temporary folder under " + TempRoot());
  path_ = pattern;
}

TempDir::~TempDir() {
  MakeRemovable(path_);
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::Join(const std::string& name) const { return path_ + "/" + name; }

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return data;
}

ChildLock::ChildLock(const std::string& path, bool exclusive, bool record) {
  int ready[2];    // child -> parent: one byte once the lock is held ('1') or failed ('0')
  int release[2];  // parent -> child: end of file means "let go"
  if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
  if (pipe(release) != 0) {
    close(ready[0]);
    close(ready[1]);
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = fork();
  if (pid < 0) {
    close(ready[0]);
    close(ready[1]);
    close(release[0]);
    close(release[1]);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here on.
    // Drop every inherited descriptor: a lock the parent holds on an open file must not live
    // on in the child.
    unsigned low = static_cast<unsigned>(std::min(ready[1], release[0]));
    unsigned high = static_cast<unsigned>(std::max(ready[1], release[0]));
    if (low > 3) close_range(3, low - 1, 0);
    if (high > low + 1) close_range(low + 1, high - 1, 0);
    close_range(high + 1, ~0U, 0);
    int fd = open(path.c_str(), (record && exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    char ok = '0';
    struct flock whole {};
    whole.l_type = exclusive ? F_WRLCK : F_RDLCK;
    whole.l_whence = SEEK_SET;
    if (fd >= 0 && (record ? fcntl(fd, F_SETLK, &whole) : flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB)) == 0) {
      ok = '1';
    }
    (void)!write(ready[1], &ok, 1);
    char c;
    while (read(release[0], &c, 1) < 0 && errno == EINTR) {
    }
    _exit(ok == '1' ? 0 : 1);
  }
  close(ready[1]);
  close(release[0]);
  child_ = pid;
  releaseFd_ = release[1];
  char ok = '0';
  ssize_t n;
  do {
    n = read(ready[0], &ok, 1);
  } while (n < 0 && errno == EINTR);
  close(ready[0]);
  if (n != 1 || ok != '1') {
    close(releaseFd_);
    int status;
    waitpid(child_, &status, 0);
    throw std::runtime_error("child could not lock " + path);
  }
}

ChildLock::~ChildLock() {
  if (releaseFd_ >= 0) close(releaseFd_);
  if (child_ > 0) {
    int status;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace kvelv::test
