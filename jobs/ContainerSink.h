#pragma once
// The file a container (or the plaintext of one) is written to, one piece after the other: the
// cipher runs over each piece as it comes, into a temporary file beside the target
// (platform/PartialFile.h), which Commit() renames over the target once Finish() has added the
// padding and synced it. The crypto component makes one for each of its calls; the encrypt job
// feeds one while the archive is still being packed (jobs/ContainerFollower.h). Bounded memory
// whatever the length. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/crypto/CryptoBackend.h"
#include "platform/PartialFile.h"

namespace kvelv {

class ContainerSink {
 public:
  // Checks `target` (a folder, device or read-only file there is refused) and creates the
  // temporary file beside it. nullptr with `error` when it cannot; nothing was created then.
  static std::unique_ptr<ContainerSink> Open(std::unique_ptr<crypto::CipherStream> cipher, const std::string& target,
                                             bool encrypting, std::string& error);
  ~ContainerSink();  // the temporary file goes unless committed
  ContainerSink(const ContainerSink&) = delete;
  ContainerSink& operator=(const ContainerSink&) = delete;

  // Runs the cipher over the next `count` bytes and writes the result; false with `error`.
  bool Write(const uint8_t* data, size_t count, std::string& error);
  // Bytes given to Write so far.
  int64_t Taken() const { return taken_; }
  // The last block(s), the permissions of the file it replaces (or the usual ones; the owner's
  // alone for a plaintext) and a sync. False with `error`; `badPadding` when a decryption's
  // padding is not valid (a wrong password).
  bool Finish(std::string& error, bool& badPadding);
  // Renames the file over the target; false with `error`.
  bool Commit(std::string& error);

 private:
  ContainerSink(std::unique_ptr<crypto::CipherStream> cipher, platform::PartialFile out, std::string target,
                bool encrypting);
  bool WriteOut(size_t length, std::string& error);

  std::unique_ptr<crypto::CipherStream> cipher_;
  platform::PartialFile out_;
  std::string target_;
  bool encrypting_;
  std::vector<uint8_t> output_;  // the cipher's output for one piece; wiped when the sink goes
  int64_t taken_ = 0;
  int64_t written_ = 0;  // bytes of the file written
  int64_t sentOn_ = 0;   // bytes of the file whose write-back was started
};

}  // namespace kvelv
