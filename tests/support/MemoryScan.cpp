#include "tests/support/MemoryScan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <span>
#include <stdexcept>

namespace kvelv::test {

MaskedSecret MaskedSecret::Random(const std::string& prefix, size_t length) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::mt19937 random(device());
  MaskedSecret secret;
  for (char c : prefix) secret.masked_.push_back(static_cast<uint8_t>(c ^ kMask));
  for (size_t i = 0; i < length; ++i)
    secret.masked_.push_back(static_cast<uint8_t>(kAlphabet[random() % (sizeof kAlphabet - 1)] ^ kMask));
  return secret;
}

MaskedSecret MaskedSecret::Utf16() const {
  MaskedSecret wide;
  for (uint8_t m : masked_) {
    wide.masked_.push_back(m);
    wide.masked_.push_back(kMask);  // a zero high byte
  }
  return wide;
}

bool MaskedSecret::WriteTo(int fd, const std::string& tail) const {
  for (size_t i = 0; i < Size(); ++i) {
    const uint8_t byte = At(i);
    if (write(fd, &byte, 1) != 1) return false;
  }
  return tail.empty() || write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
}

platform::SecretBytes MaskedSecret::Reveal() const {
  platform::SecretBytes secret;
  secret.Reserve(Size());
  for (size_t i = 0; i < Size(); ++i) {
    const uint8_t byte = At(i);
    secret.Append(&byte, 1);
  }
  return secret;
}

namespace {

struct Mapping {
  uint64_t start = 0, end = 0;
  std::string line;
  std::string flags;
};

std::vector<Mapping> Mappings(pid_t pid) {
  std::vector<Mapping> mappings;
  std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
  std::string line;
  while (std::getline(smaps, line)) {
    if (line.rfind("VmFlags:", 0) == 0) {
      if (!mappings.empty()) mappings.back().flags = line.substr(8);
      continue;
    }
    const size_t dash = line.find('-');
    const size_t space = line.find(' ');
    if (dash == std::string::npos || space == std::string::npos || dash > space) continue;
    if (line.find(':') < dash) continue;  // a "Key: value" line
    Mapping m;
    m.start = std::stoull(line.substr(0, dash), nullptr, 16);
    m.end = std::stoull(line.substr(dash + 1, space - dash - 1), nullptr, 16);
    m.line = line;
    mappings.push_back(m);
  }
  return mappings;
}

}  // namespace

std::vector<MemoryHit> FindInMemory(pid_t pid, const MaskedSecret& secret) {
  const std::vector<Mapping> mappings = Mappings(pid);
  const int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
  if (mem < 0 || mappings.empty())
    throw std::runtime_error("cannot read the memory of process " + std::to_string(pid) + ": " + std::strerror(errno));
  std::vector<MemoryHit> hits;
  const size_t n = secret.Size();
  const uint8_t first = secret.At(0);
  // A mapping of its own, left out of the search: read into, it would show what it read before.
  const size_t size = (size_t{1} << 20) + n;
  auto* buffer = static_cast<uint8_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (buffer == MAP_FAILED) throw std::runtime_error("no memory for the search");
  const auto own = reinterpret_cast<uint64_t>(buffer);
  const std::span<uint8_t> chunk(buffer, size);
  auto scan = [&](uint64_t from, uint64_t to, const Mapping& m) {
    for (uint64_t at = from; at < to; at += chunk.size() - n) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), to - at));
      const ssize_t got = pread(mem, chunk.data(), want, static_cast<off_t>(at));
      if (got <= 0) break;
      for (size_t i = 0; i + n <= static_cast<size_t>(got); ++i) {
        const void* found = std::memchr(chunk.data() + i, first, static_cast<size_t>(got) - n + 1 - i);
        if (found == nullptr) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(found) - chunk.data());
        size_t k = 1;
        while (k < n && chunk[i + k] == secret.At(k)) ++k;
        if (k == n) hits.push_back({at + i, m.line, m.flags});
      }
      if (static_cast<size_t>(got) < want || at + want >= to) break;
    }
  };
  for (const Mapping& m : mappings) {
    const std::string perms = m.line.substr(m.line.find(' ') + 1, 4);
    if (perms[0] != 'r' || m.end - m.start > (uint64_t{8} << 30)) continue;
    if (m.line.find("[vvar]") != std::string::npos || m.line.find("[vsyscall]") != std::string::npos) continue;
    if (pid == getpid() && own >= m.start && own < m.end) {
      scan(m.start, own, m);
      scan(own + size, m.end, m);
    } else {
      scan(m.start, m.end, m);
    }
  }
  close(mem);
  munmap(buffer, size);
  return hits;
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

}  // namespace kvelv::test
