#pragma once
// A container file being written: under a temporary name beside the target, renamed over it
// only when complete, so the target shows the old file or the whole new one and never a part.
// An unfinished one is removed when the object goes.
#include <cstddef>
#include <string>

#include "platform/File.h"

namespace kvelv {

class ContainerTarget {
 public:
  ContainerTarget() = default;
  ~ContainerTarget();
  ContainerTarget(const ContainerTarget&) = delete;
  ContainerTarget& operator=(const ContainerTarget&) = delete;

  // Refuses a target that is a folder, a device or a read-only file, then creates the temporary
  // file. False with `failure` set.
  bool Create(const std::string& target, std::string& failure);
  // False with `failure` set when the bytes cannot all be written (disk full, I/O error).
  bool Write(const void* data, size_t size, std::string& failure);
  // Permissions of the replaced file (or the usual ones), flushed to disk, renamed into place.
  bool Commit(std::string& failure);

 private:
  platform::File file_;
  std::string target_;
  std::string tempPath_;
  bool committed_ = false;
};

}  // namespace kvelv
