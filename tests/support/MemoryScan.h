#pragma once
// Looks for a secret in a process's memory (/proc/<pid>/mem), to show where copies of a password
// live and that they are gone. The secret is kept masked here, so that looking for it leaves no
// copy of it in the looking process: a test may search its own memory.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SecretBytes.h"

namespace kvelv::test {

class MaskedSecret {
 public:
  static constexpr uint8_t kMask = 0xA5;
  // A new random secret of `length` letters and digits after `prefix` (ASCII), never unmasked.
  static MaskedSecret Random(const std::string& prefix, size_t length);
  size_t Size() const { return masked_.size(); }
  uint8_t At(size_t i) const { return static_cast<uint8_t>(masked_[i] ^ kMask); }
  // The same characters as UTF-16LE (how Qt keeps text).
  MaskedSecret Utf16() const;
  // Writes the secret, one byte per call, to `fd`, then `tail`; false on a short write.
  bool WriteTo(int fd, const std::string& tail = "\n") const;
  // The secret itself, built byte by byte in secret storage.
  platform::SecretBytes Reveal() const;

 private:
  std::vector<uint8_t> masked_;
};

struct MemoryHit {
  uint64_t address = 0;
  std::string mapping;  // the line of /proc/<pid>/maps
  std::string flags;    // its VmFlags from /proc/<pid>/smaps ("dd": not dumped, "wf": wiped on fork, "lo": locked)
};

// Every copy of `secret` in the readable memory of process `pid` (mappings of more than 8 GiB,
// reserved rather than used, are left out). Throws std::runtime_error when the memory cannot be
// read (no permission: not root and the process not dumpable).
std::vector<MemoryHit> FindInMemory(pid_t pid, const MaskedSecret& secret);

// Whether this build runs under a sanitizer, whose shadow memory cannot be scanned this way.
bool UnderSanitizer();

}  // namespace kvelv::test
