#pragma once
// The one home of the archive classes' threads. Three shapes of work run on them:
//
// - ThreadGroup: threads started together and joined together; everything below runs on one.
// - TaskPool: tasks handed over in order, done by any worker, waited for one by one (the parallel
//   deflate of one large entry).
// - Lookahead: the items of a known sequence prepared ahead of their turn while the caller works
//   through them in order (small files deflated ahead while packing, small entries decoded ahead
//   while extracting).
//
// Decoders and compressors run on these threads: each thread has a state of its own (an inflater,
// a deflater), made when the thread starts and destroyed before it ends. Per-thread state lives
// in the worker, never in thread_local objects, whose destructors some thread runtimes run after
// the thread's storage is gone.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
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

// Threads started together, each running `body`, and joined together when the group goes. The
// body must return once the owner asks it to (its own stop flag); the group only joins.
class ThreadGroup {
 public:
  ThreadGroup() = default;
  // Starts `count` threads. When one cannot be started, `stop` is called to end the ones that
  // were, they are joined and the error passes on.
  ThreadGroup(unsigned count, const std::function<void()>& body, const std::function<void()>& stop) {
    threads_.reserve(count);
    try {
      for (unsigned i = 0; i < count; ++i) threads_.emplace_back(body);
    } catch (...) {
      stop();
      Join();
      throw;
    }
  }
  ~ThreadGroup() { Join(); }
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  // Waits for every thread (their bodies must have been told to return).
  void Join() {
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }
  size_t Size() const { return threads_.size(); }

 private:
  std::vector<std::thread> threads_;
};

// Tasks done by a fixed set of workers, each with a `WorkerState` of its own. The caller hands
// tasks over and waits for each; tasks are started in the order given. `Task` must have the
// members `bool done` and `std::exception_ptr error`, which the pool sets (the error of a task
// whose work threw; a worker whose work threw starts the next task with a fresh state).
template <typename Task, typename WorkerState>
class TaskPool {
 public:
  using Work = std::function<void(Task& task, WorkerState& state)>;

  TaskPool(unsigned threads, Work work)
      : work_(std::move(work)),
        threads_(std::max(threads, 1u), [this] { Run(); }, [this] { Stop(); }) {}
  ~TaskPool() { Stop(); }
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void Submit(Task* task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(task);
    }
    queued_.notify_one();
  }

  // Waits until `task` is done (successfully or with its error set).
  void Wait(const Task* task) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [task] { return task->done; });
  }
  // The same for at most `timeout`; true when the task is done.
  template <typename Duration>
  bool WaitFor(const Task* task, Duration timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, timeout, [task] { return task->done; });
  }

 private:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    queued_.notify_all();
    threads_.Join();
  }

  void Run() {
    std::optional<WorkerState> state;
    for (;;) {
      Task* task = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        task = queue_.front();
        queue_.pop_front();
      }
      try {
        if (!state) state.emplace();
        work_(*task, *state);
      } catch (...) {
        task->error = std::current_exception();
        state.reset();  // a failed state is not reused
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        task->done = true;
      }
      finished_.notify_all();
    }
  }

  const Work work_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Task*> queue_;
  bool stop_ = false;
  ThreadGroup threads_;  // last: started once everything above is ready
};

struct NoWorkerState {};

// Work on the items of a sequence done ahead of their turn, on worker threads, while the caller
// handles the items before them in order. The caller takes each result in increasing order;
// whatever could not be prepared it handles itself. Workers stay at most `ahead` items beyond
// the one taken next and pause while the prepared results waiting weigh more than `heldLimit`,
// so memory stays bounded however long the sequence.
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
        resume_(std::max<size_t>(1, ahead_ / 2)),
        heldLimit_(heldLimit),
        state_(wanted_.size(), State::Waiting),
        ready_(wanted_.size()) {
    try {
      threads_.emplace(std::max(threads, 1u), [this] { Work(); }, [this] { Stop(); });
    } catch (...) {
      // Without threads the caller simply handles every item itself.
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
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
    bool wake = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (index >= wanted_.size() || index < taken_ || !wanted_[index]) return std::nullopt;
      DropBefore(index);
      // Workers claim items in order, so nothing after this one is held now and a worker is
      // free to take it if none has yet.
      if (HasWork(resume_)) workAvailable_.notify_all();
      resultReady_.wait(lock, [&] { return stop_ || state_[index] == State::Ready; });
      result = std::move(ready_[index]);
      ready_[index].reset();
      if (result) held_ -= weigh_(*result);
      taken_ = index + 1;
      wake = HasWork(resume_);
    }
    if (wake) workAvailable_.notify_all();
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
    if (threads_) threads_->Join();
  }

  // With mutex_ held: moves next_ on to the next wanted item and says whether it may be claimed
  // with room for `room` items in the window.
  bool HasWork(size_t room = 1) {
    next_ = std::max(next_, taken_);
    while (next_ < wanted_.size() && !wanted_[next_]) ++next_;
    return next_ < wanted_.size() && next_ + room <= taken_ + ahead_ && held_ <= heldLimit_;
  }

  void Work() {
    WorkerState state;
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // A worker that finds the window full sleeps until half of it is free again: small items
        // are then prepared in runs, not one wake-up each.
        if (!HasWork()) {
          workAvailable_.wait(lock, [this] { return stop_ || HasWork(resume_) || next_ >= wanted_.size(); });
        }
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
  const size_t resume_;  // free room in the window that wakes a sleeping worker
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
  std::optional<ThreadGroup> threads_;  // last: started once everything above is ready
};

}  // namespace kvelv
