#include "jobs/ContainerFollower.h"

#include <algorithm>
#include <exception>

namespace kvelv {

namespace {
// Bytes read back and encrypted in one step; Stop() waits for at most one step.
constexpr int64_t kStep = int64_t{1} << 20;
}  // namespace

ContainerFollower::~ContainerFollower() { Stop(); }

void ContainerFollower::Begin(std::shared_ptr<const ArchiveSource> written) {
  Stop();  // a second archive is not followed: the sink holds the first one's start
  if (sink_.Taken() != 0) return;
  written_ = std::move(written);
  buffer_.resize(static_cast<size_t>(kStep));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  try {
    thread_.emplace(1, [this] { Run(); }, [this] { Stop(); });
  } catch (const std::exception&) {
    // Without the thread the job hands the sink the whole archive once it is packed.
    thread_.reset();
    written_.reset();
  }
}

void ContainerFollower::Final(int64_t end) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (end <= final_) return;
    final_ = end;
  }
  changed_.notify_one();
}

void ContainerFollower::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  if (!thread_) return;
  thread_.reset();  // joins
  written_.reset();
  crypto::SecureWipe(buffer_.data(), buffer_.size());
}

void ContainerFollower::Run() {
  for (;;) {
    int64_t from = sink_.Taken();
    int64_t end = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || final_ > from; });
      if (stopping_) return;
      end = final_;
    }
    // The bytes before `end` stay as they are while the packer writes on after them.
    while (from < end) {
      const int64_t want = std::min(kStep, end - from);
      const int64_t got = written_->ReadAt(from, buffer_.data(), want);
      std::string error;
      if (got != want) {
        error = "Cannot read the archive to encrypt";
      } else if (sink_.Write(buffer_.data(), static_cast<size_t>(got), error)) {
        from += got;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        continue;
      }
      failure_ = error;
      failed_.store(true, std::memory_order_release);
      return;
    }
  }
}

}  // namespace kvelv
