// Anonymous mappings of their own, so that the advice applies to the secret and nothing else:
// MADV_DONTDUMP leaves them out of a core dump, MADV_WIPEONFORK hands a forked child zeros
// (the watcher forked later sees no password), mlock keeps them out of swap.
#include "platform/LockedMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace kvelv::platform {

namespace {

size_t PageSize() {
  static const size_t size = [] {
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : size_t{4096};
  }();
  return size;
}

}  // namespace

LockedRegion AllocateLocked(size_t minimum) {
  const size_t page = PageSize();
  const size_t size = minimum == 0 ? page : (minimum + page - 1) / page * page;
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) throw std::bad_alloc();
  // Older kernels lack one advice or the other; the secret is still wiped, only less guarded.
  (void)madvise(data, size, MADV_DONTDUMP);
#ifdef MADV_WIPEONFORK
  (void)madvise(data, size, MADV_WIPEONFORK);
#endif
  LockedRegion region;
  region.data = data;
  region.size = size;
  region.locked = mlock(data, size) == 0;
  return region;
}

void FreeLocked(LockedRegion& region) noexcept {
  if (region.data == nullptr) return;
  WipeMemory(region.data, region.size);
  if (region.locked) (void)munlock(region.data, region.size);
  (void)munmap(region.data, region.size);
  region = LockedRegion{};
}

void WipeMemory(void* data, size_t size) noexcept {
  if (data != nullptr && size != 0) explicit_bzero(data, size);
}

}  // namespace kvelv::platform
