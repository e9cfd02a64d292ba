#pragma once
// The encrypt job's container made while the archive is still being packed: the packer tells it
// how far the archive is final (zip/ArchiveFollower.h), and a thread of its own reads those bytes
// back from the temporary archive and hands them to the container's sink, so the deflate workers
// never wait for the cipher or the disk. What is not final yet when the packer stops it (the last
// entry and the central directory) the job hands over afterwards (CryptComponent::FinishContainer).
// A failure of the sink stops the thread; the job hears of it through Failed() and ends the pass.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ContainerSink.h"
#include "zip/ArchiveFollower.h"
#include "zip/Concurrency.h"

namespace kvelv {

class ContainerFollower final : public ArchiveFollower {
 public:
  explicit ContainerFollower(ContainerSink& sink) : sink_(sink) {}
  ~ContainerFollower() override;  // Stop()
  ContainerFollower(const ContainerFollower&) = delete;
  ContainerFollower& operator=(const ContainerFollower&) = delete;

  void Begin(std::shared_ptr<const ArchiveSource> written) override;
  void Final(int64_t end) override;
  void Stop() override;

  // Whether the sink failed (or the archive could not be read back); from any thread.
  bool Failed() const { return failed_.load(std::memory_order_acquire); }
  // Why, once Stop() returned.
  const std::string& FailureText() const { return failure_; }

 private:
  void Run();

  ContainerSink& sink_;
  std::shared_ptr<const ArchiveSource> written_;
  std::vector<uint8_t> buffer_;  // one piece of the archive; wiped when the thread ends
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t final_ = 0;     // guarded by mutex_
  bool stopping_ = false;  // guarded by mutex_
  std::atomic<bool> failed_{false};
  std::string failure_;  // written by the thread before it sets failed_
  std::optional<ThreadGroup> thread_;  // last: started once everything above is ready
};

}  // namespace kvelv
