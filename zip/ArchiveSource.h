#pragma once
// The bytes of an archive, read at any position: a file on disk, or the plaintext of an encrypted
// container decrypted where it is read (jobs/ContainerSource.h). The reader, its extraction
// engine and the workers that decode ahead all read through one source at once.
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "platform/File.h"
#include "zip/ArchiveTransform.h"

namespace kvelv {

class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  // Length of the archive in bytes; -1 when it cannot be told.
  virtual int64_t Size() const = 0;
  // Up to `count` bytes from `position`: fewer only at the end, -1 on a read error. Safe to call
  // from several threads at once.
  virtual int64_t ReadAt(int64_t position, void* buffer, int64_t count) const = 0;
};

// An archive file; others may read it meanwhile but not write it. With a transform, the file
// holds the archive's bytes as the writer's transform left them (zip/ArchiveTransform.h), and
// each read gives them back.
class FileArchiveSource final : public ArchiveSource {
 public:
  // nullptr with `ec` set when the file cannot be opened.
  static std::shared_ptr<FileArchiveSource> Open(const std::string& path, std::error_code& ec,
                                                 std::shared_ptr<const ArchiveTransform> transform = nullptr);
  int64_t Size() const override { return file_.Size(); }
  int64_t ReadAt(int64_t position, void* buffer, int64_t count) const override;

 private:
  FileArchiveSource(platform::File file, std::shared_ptr<const ArchiveTransform> transform)
      : file_(std::move(file)), transform_(std::move(transform)) {}
  platform::File file_;
  std::shared_ptr<const ArchiveTransform> transform_;
};

}  // namespace kvelv
