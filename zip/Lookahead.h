#pragma once
// Work on the items of a sequence done ahead of their turn, on worker threads, while the caller
// handles the items before them in order. The caller takes each result in increasing order;
// whatever could not be prepared it handles itself. Workers stay at most `ahead` items beyond
// the one taken next and pause while the prepared results waiting weigh more than `heldLimit`,
// so memory stays bounded however long the sequence.
//
// Each worker thread has a `WorkerState` of its own (decoder or compressor state kept from one item
// to the next), made when the thread starts and destroyed before it ends: per-thread state lives
// in the worker, never in thread_local objects, whose destructors some thread runtimes run after
// the thread's storage is gone.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace kvelv {

// Worker threads to use by default: the machine's hardware threads, at least 1, at most 16.
inline unsigned HardwareThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 16u); }

struct NoWorkerState {};

template <typename Result, typename WorkerState = NoWorkerState>
class Lookahead {
  static_assert(std::is_nothrow_default_constructible_v<WorkerState>,
                "a worker that could not make its state would leave its items unprepared");

 public:
  static constexpr size_t kDefaultHeldLimit = size_t{8} << 20;

  // Prepares item `index` on a worker thread with that thread's state; nullopt when the caller
  // must handle it itself. Must not throw.
  using Prepare = std::function<std::optional<Result>(size_t index, WorkerState& state)>;
  // The bytes a prepared result holds.
  using Weigh = std::function<size_t(const Result&)>;

  // `ahead` 0 means 8 items per thread.
  Lookahead(std::vector<bool> wanted, Prepare prepare, Weigh weigh, unsigned threads = HardwareThreads(),
            size_t ahead = 0, size_t heldLimit = kDefaultHeldLimit)
      : wanted_(std::move(wanted)),
        prepare_(std::move(prepare)),
        weigh_(std::move(weigh)),
        ahead_(ahead > 0 ? ahead : 8 * static_cast<size_t>(std::max(threads, 1u))),
        heldLimit_(heldLimit),
        state_(wanted_.size(), State::Waiting),
        ready_(wanted_.size()) {
    threads = std::max(threads, 1u);
    try {
      for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (...) {
      // Without threads the caller simply handles every item itself.
      Stop();
    }
  }
  ~Lookahead() { Stop(); }
  Lookahead(const Lookahead&) = delete;
  Lookahead& operator=(const Lookahead&) = delete;

  // The result of item `index` (waiting for a worker to finish it), or nullopt when the item is
  // not wanted, could not be prepared, or lies before an item already taken. Results of items
  // passed over are dropped.
  std::optional<Result> Take(size_t index) {
    std::optional<Result> result;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (index >= wanted_.size() || index < taken_ || !wanted_[index]) return std::nullopt;
      DropBefore(index);
      // Workers claim items in order, so nothing after this one is held now and a worker is
      // free to take it if none has yet.
      workAvailable_.notify_all();
      resultReady_.wait(lock, [&] { return stop_ || state_[index] == State::Ready; });
      result = std::move(ready_[index]);
      ready_[index].reset();
      if (result) held_ -= weigh_(*result);
      taken_ = index + 1;
    }
    workAvailable_.notify_all();
    return result;
  }

 private:
  enum class State : unsigned char { Waiting, Working, Ready };

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workAvailable_.notify_all();
    resultReady_.notify_all();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
  }

  // With mutex_ held: moves next_ on to the next wanted item and says whether it may be claimed.
  bool HasWork() {
    next_ = std::max(next_, taken_);
    while (next_ < wanted_.size() && !wanted_[next_]) ++next_;
    return next_ < wanted_.size() && next_ < taken_ + ahead_ && held_ <= heldLimit_;
  }

  void Work() {
    WorkerState state;
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workAvailable_.wait(lock, [this] { return stop_ || HasWork() || next_ >= wanted_.size(); });
        if (stop_ || next_ >= wanted_.size()) return;
        index = next_++;
        state_[index] = State::Working;
      }
      std::optional<Result> result = prepare_(index, state);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= taken_ && result) {
          held_ += weigh_(*result);
          ready_[index] = std::move(result);
        }
        state_[index] = State::Ready;
      }
      resultReady_.notify_all();
    }
  }

  // With mutex_ held.
  void DropBefore(size_t index) {
    for (size_t i = taken_; i < index; ++i) {
      if (ready_[i]) {
        held_ -= weigh_(*ready_[i]);
        ready_[i].reset();
      }
    }
    taken_ = std::max(taken_, index);
  }

  const std::vector<bool> wanted_;
  const Prepare prepare_;
  const Weigh weigh_;
  const size_t ahead_;
  const size_t heldLimit_;

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable resultReady_;
  std::vector<State> state_;
  std::vector<std::optional<Result>> ready_;
  size_t next_ = 0;   // first item no worker has claimed
  size_t taken_ = 0;  // items below this were taken or passed over
  size_t held_ = 0;   // weight of the results prepared and not taken yet
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kvelv
