#pragma once
// Memory for secrets: pages of their own, kept out of swap where the system lets the process
// lock them, out of core dumps, and zeroed in a forked child. Only SecretBytes uses it.
#include <cstddef>

namespace kvelv::platform {

struct LockedRegion {
  void* data = nullptr;
  size_t size = 0;      // whole pages
  bool locked = false;  // false when the system refused to lock it (a small RLIMIT_MEMLOCK)
};

// At least `minimum` bytes, zero-filled, in whole pages. Throws std::bad_alloc when no memory
// can be had; a refused lock is no failure (see `locked`).
LockedRegion AllocateLocked(size_t minimum);
// Wipes, unlocks and returns the region; `region` is empty afterwards.
void FreeLocked(LockedRegion& region) noexcept;

// Overwrites `size` bytes at `data` with zeros in a way the compiler cannot leave out, although
// nothing reads them afterwards.
void WipeMemory(void* data, size_t size) noexcept;

}  // namespace kvelv::platform
