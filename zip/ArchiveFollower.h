#pragma once
// Someone who follows a new archive while it is written, from its start, and reads each part as
// soon as it is final (the encrypt job encrypts the container meanwhile). The writer tells it how
// far the archive can no longer change: everything before the local header it may still seek
// back to, and that is already in the file rather than in the writer's buffer. The follower reads
// those bytes on a thread of its own through the source it was given, while the writer goes on
// writing the bytes after them.
#include <cstdint>
#include <memory>

#include "zip/ArchiveSource.h"

namespace kvelv {

class ArchiveFollower {
 public:
  virtual ~ArchiveFollower() = default;
  // The archive file was created; `written` reads what the writer put in it (as it meant it, the
  // writer's transform undone). Valid until Stop().
  virtual void Begin(std::shared_ptr<const ArchiveSource> written) = 0;
  // The bytes before `end` are final and in the file. Called on the writer's thread with an
  // `end` that never goes back; returns at once.
  virtual void Final(int64_t end) = 0;
  // No more reads of `written` once this returns: the writer is about to close the file, done
  // or failed. Called on the writer's thread; may be called more than once.
  virtual void Stop() = 0;
};

}  // namespace kvelv
