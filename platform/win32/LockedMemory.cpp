// Pages of their own from VirtualAlloc, locked into the working set where the system allows.
// Windows writes no core file here (platform/CrashExit.h ends a crashed process at once), so
// there is no dump to keep them out of; a child process does not inherit them.
#include "platform/LockedMemory.h"

#include <new>

#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

size_t PageSize() {
  static const size_t size = [] {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize != 0 ? static_cast<size_t>(info.dwPageSize) : size_t{4096};
  }();
  return size;
}

}  // namespace

LockedRegion AllocateLocked(size_t minimum) {
  const size_t page = PageSize();
  const size_t size = minimum == 0 ? page : (minimum + page - 1) / page * page;
  void* data = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (data == nullptr) throw std::bad_alloc();
  LockedRegion region;
  region.data = data;
  region.size = size;
  region.locked = VirtualLock(data, size) != FALSE;
  return region;
}

void FreeLocked(LockedRegion& region) noexcept {
  if (region.data == nullptr) return;
  WipeMemory(region.data, region.size);
  if (region.locked) VirtualUnlock(region.data, region.size);
  VirtualFree(region.data, 0, MEM_RELEASE);
  region = LockedRegion{};
}

void WipeMemory(void* data, size_t size) noexcept {
  if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

}  // namespace kvelv::platform
