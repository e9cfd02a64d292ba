#pragma once
// A container (or a file decrypted from one) being written: a partial file beside the target
// (platform/PartialFile.h: removed on every way out, by a signal's cleanup and by the watcher
// after a kill), renamed over the target only when complete, so the target shows the old file or
// the whole new one and never a part of it. Written bytes are sent on to the disk as they come,
// so that the sync at the end finds little left to write.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"
#include "platform/PartialFile.h"

namespace kvelv {

class ContainerTarget {
 public:
  ContainerTarget() = default;
  ContainerTarget(const ContainerTarget&) = delete;
  ContainerTarget& operator=(const ContainerTarget&) = delete;
  ContainerTarget(ContainerTarget&&) = default;
  ContainerTarget& operator=(ContainerTarget&&) = default;

  // Refuses a target that is a folder, a device or a read-only file, then creates the partial
  // file. False with `failure` set.
  bool Create(const std::string& target, std::string& failure);
  // False with `failure` set when the bytes cannot all be written (disk full, I/O error).
  bool Write(const void* data, size_t size, std::string& failure);
  // Gives the file the permissions of the file it replaces (or, when new, `whenNew`) and flushes
  // it to disk: from here only the rename is left. False with `failure` set.
  bool Finish(platform::NewFileMode whenNew, std::string& failure);
  // Renames the finished file over the target. False with `failure` set; the file is removed.
  bool Commit(std::string& failure);
  // Removes the partial file now (the destructor does it otherwise).
  void Remove() { partial_.Remove(); }

  const std::string& Target() const { return target_; }

 private:
  platform::PartialFile partial_;
  std::string target_;
  int64_t written_ = 0;  // bytes written so far
  int64_t sentOn_ = 0;   // bytes whose write-back was started
};

}  // namespace kvelv
