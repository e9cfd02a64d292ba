// Win32 files: the share modes are the real CreateFileW ones.
#include "platform/File.h"

#include <algorithm>
#include <cerrno>

#include "platform/win32/GuardedFiles.h"
#include "platform/win32/WinApi.h"

namespace kvelv::platform {

namespace {

using win32::ErrorFromWin32;
using win32::WidePath;

std::error_code Errno(int value) { return std::error_code(value, std::generic_category()); }

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

struct OpenSpec {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

OpenSpec SpecFor(OpenMode mode) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  switch (mode) {
    case OpenMode::ReadDenyNone:
      return {GENERIC_READ, kShareAll, OPEN_EXISTING};
    case OpenMode::ReadDenyWrite:
      return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING};
    case OpenMode::ReadWriteDenyAll:
      return {GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING};
    case OpenMode::CreateNew:
      return {GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW};
    case OpenMode::CreateAlways:  // OPEN_ALWAYS, then truncated once open: see File::Open
      return {GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS};
    case OpenMode::WriteExisting:
      return {GENERIC_WRITE, kShareAll, OPEN_EXISTING};
  }
  return {GENERIC_READ, kShareAll, OPEN_EXISTING};
}

bool NeedsWrite(OpenMode mode) {
  return mode != OpenMode::ReadDenyNone && mode != OpenMode::ReadDenyWrite;
}

}  // namespace

File File::Open(const std::string& path, OpenMode mode, std::error_code& ec) {
  ec.clear();
  if (path.empty()) {
    ec = Errno(ENOENT);
    return File();
  }
  std::wstring wide = WidePath(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ec = Errno(mode == OpenMode::CreateNew ? EEXIST : EISDIR);
      return File();
    }
    // The read-only attribute refuses writing; asked first so the answer does not depend on
    // who runs the program.
    if (NeedsWrite(mode) && mode != OpenMode::CreateNew && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ec = Errno(EACCES);
      return File();
    }
    // Never write through a link that sits at the path (junctions and symbolic links).
    if (NeedsWrite(mode) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      ec = Errno(ELOOP);
      return File();
    }
  }
  OpenSpec spec = SpecFor(mode);
  // A temporary file's delete-on-close keeper holds it open with delete access.
  const bool guarded = win32::InGuardedFolder(wide);
  if (guarded) spec.share |= FILE_SHARE_DELETE;
  HANDLE handle = CreateFileW(wide.c_str(), spec.access, spec.share, nullptr, spec.disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = ErrorFromWin32(GetLastError());
    return File();
  }
  const bool created = mode == OpenMode::CreateNew ||
                       (mode == OpenMode::CreateAlways && GetLastError() != ERROR_ALREADY_EXISTS);
  File file(reinterpret_cast<intptr_t>(handle));
  // Devices, pipes and consoles are not files here.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    ec = Errno(ENXIO);
  } else if (mode == OpenMode::CreateAlways && !created && !SetEndOfFile(handle)) {
    ec = ErrorFromWin32(GetLastError());
  } else if (created && guarded && !win32::KeepUntilFolderRemoved(wide)) {
    ec = ErrorFromWin32(GetLastError());  // never plaintext that could outlive a kill
  }
  if (ec) {
    file.Close();
    // A file this call created and then could not use is not left behind.
    if (created) DeleteFileW(wide.c_str());
    return File();
  }
  return file;
}

int64_t File::Read(void* buffer, int64_t count) {
  if (handle_ == -1) {
    lastError_ = Errno(EBADF);
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!ReadFile(ToHandle(handle_), out + done, chunk, &got, nullptr)) {
      lastError_ = ErrorFromWin32(GetLastError());
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

int64_t File::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (handle_ == -1 || position < 0) return -1;
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const uint64_t at = static_cast<uint64_t>(position + done);
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!ReadFile(ToHandle(handle_), out + done, chunk, &got, &where)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

namespace {

// Writes all `count` bytes, at `position` or, when it is negative, at the file's position; the
// bytes written. A write that makes no progress is a full disk.
int64_t WriteAll(HANDLE handle, const char* in, int64_t count, int64_t position, std::error_code& error) {
  int64_t done = 0;
  while (done < count) {
    OVERLAPPED where{};
    if (position >= 0) {
      const uint64_t at = static_cast<uint64_t>(position + done);
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
    }
    DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
    DWORD written = 0;
    if (!WriteFile(handle, in + done, chunk, &written, position >= 0 ? &where : nullptr)) {
      error = ErrorFromWin32(GetLastError());
      break;
    }
    if (written == 0) {
      error = Errno(ENOSPC);
      break;
    }
    done += written;
  }
  return done;
}

}  // namespace

int64_t File::Write(const void* buffer, int64_t count) {
  if (handle_ == -1) {
    lastError_ = Errno(EBADF);
    return 0;
  }
  return WriteAll(ToHandle(handle_), static_cast<const char*>(buffer), count, -1, lastError_);
}

int64_t File::WriteAt(int64_t position, const void* buffer, int64_t count) {
  if (handle_ == -1 || position < 0) {
    lastError_ = Errno(handle_ == -1 ? EBADF : EINVAL);
    return 0;
  }
  return WriteAll(ToHandle(handle_), static_cast<const char*>(buffer), count, position, lastError_);
}

bool File::Seek(int64_t position) {
  if (handle_ == -1 || position < 0) {
    lastError_ = Errno(handle_ == -1 ? EBADF : EINVAL);
    return false;
  }
  LARGE_INTEGER to;
  to.QuadPart = position;
  if (!SetFilePointerEx(ToHandle(handle_), to, nullptr, FILE_BEGIN)) {
    lastError_ = ErrorFromWin32(GetLastError());
    return false;
  }
  return true;
}

int64_t File::Position() const {
  if (handle_ == -1) return -1;
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  if (!SetFilePointerEx(ToHandle(handle_), zero, &now, FILE_CURRENT)) return -1;
  return now.QuadPart;
}

int64_t File::Size() const {
  if (handle_ == -1) return -1;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(ToHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

bool File::Truncate(int64_t size) {
  if (handle_ == -1 || size < 0) {
    lastError_ = Errno(handle_ == -1 ? EBADF : EINVAL);
    return false;
  }
  // SetEndOfFile cuts at the file pointer; the position is kept as ftruncate keeps it.
  int64_t position = Position();
  bool ok = Seek(size) && SetEndOfFile(ToHandle(handle_));
  if (!ok && !lastError_) lastError_ = ErrorFromWin32(GetLastError());
  if (position >= 0) Seek(position);
  return ok;
}

// FlushFileBuffers is the only call, and it waits: Sync() does it once at the end.
void File::StartWriteBack(int64_t, int64_t) {}

bool File::SetLastWriteTime(int64_t unixSeconds) {
  FILETIME written = win32::FileTimeFromUnix(unixSeconds);
  if (handle_ >= 0 && SetFileTime(ToHandle(handle_), nullptr, nullptr, &written) != 0) return true;
  lastError_ = ErrorFromWin32(GetLastError());
  return false;
}

bool File::SetDosAttributes(uint32_t attributes) {
  FILE_BASIC_INFO basic{};
  if (handle_ < 0 || !GetFileInformationByHandleEx(ToHandle(handle_), FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  const DWORD wanted = (attributes & 0x01) != 0 ? (basic.FileAttributes | FILE_ATTRIBUTE_READONLY)
                                                : (basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (wanted == basic.FileAttributes) return true;
  basic.FileAttributes = wanted;
  basic.CreationTime.QuadPart = 0;  // 0: leave the times as they are
  basic.LastAccessTime.QuadPart = 0;
  basic.LastWriteTime.QuadPart = 0;
  basic.ChangeTime.QuadPart = 0;
  return SetFileInformationByHandle(ToHandle(handle_), FileBasicInfo, &basic, sizeof basic) != 0;
}

bool File::TakePermissions(const std::string& /*replaced*/, NewFileMode /*whenNew*/) { return handle_ >= 0; }

bool File::Sync() {
  if (handle_ == -1) {
    lastError_ = Errno(EBADF);
    return false;
  }
  if (!FlushFileBuffers(ToHandle(handle_))) {
    lastError_ = ErrorFromWin32(GetLastError());
    return false;
  }
  return true;
}

bool File::Close() {
  if (handle_ == -1) return true;
  HANDLE handle = ToHandle(handle_);
  handle_ = -1;
  if (!CloseHandle(handle)) {
    lastError_ = ErrorFromWin32(GetLastError());
    return false;
  }
  return true;
}

}  // namespace kvelv::platform
