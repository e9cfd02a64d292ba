#include "fuzz/FuzzSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "zip/ZipExceptions.h"

namespace kvelv::fuzz {

namespace fs = std::filesystem;

Scratch::Scratch() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvfuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  root_ = pattern;
  work_ = root_ + "/a/b";
  fs::create_directories(work_);
}

Scratch::~Scratch() {
  std::error_code ec;
  // Extraction may leave read-only folders; give the owner the bits back before removing.
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

std::string Scratch::WriteFile(const std::string& name, const uint8_t* data, size_t size) const {
  const std::string path = work_ + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) std::abort();
  return path;
}

void Scratch::CheckNoEscape(const std::string& keep) const {
  const fs::path out = Out();
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    const fs::path& p = it->path();
    if (p == fs::path(root_ + "/a") || p == fs::path(work_) || p == fs::path(work_ + "/" + keep) || p == out)
      continue;
    const std::string s = p.string();
    if (s.compare(0, out.string().size() + 1, out.string() + "/") == 0) {
      if (it->is_symlink()) {
        std::fprintf(stderr, "extraction made a symbolic link: %s\n", s.c_str());
        std::abort();
      }
      continue;
    }
    std::fprintf(stderr, "file written outside the target folder: %s\n", s.c_str());
    std::abort();
  }
}

uint64_t Scratch::BytesBelow(const std::string& folder) {
  uint64_t total = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) total += it->file_size(ec);
  }
  return total;
}

size_t ChunkedSource::Read(uint8_t* buffer, size_t max) {
  static constexpr size_t kPattern[] = {4096, 1, 7, 65536, 300, 2};
  size_t n = std::min({max, size_ - pos_, kPattern[turn_++ % 6]});
  if (n) std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

void CappedSink::Write(const uint8_t*, size_t count) {
  if (count > 32768) {
    std::fprintf(stderr, "decoder wrote a block of %zu bytes\n", count);
    std::abort();
  }
  total_ += count;
  if (total_ > limit_ && strict_) {
    std::fprintf(stderr, "decoder wrote %llu bytes past the declared size\n",
                 static_cast<unsigned long long>(total_ - limit_));
    std::abort();
  }
  if (total_ > limit_) throw EBiggerThanUncompressed("File is larger than uncompressed size!");
}

}  // namespace kvelv::fuzz
