#pragma once
// The console build's progress on a terminal: one line on standard error with the percentage,
// the throughput and the time left, redrawn at most a few times a second, and erased before any
// other line is written and when the job ends. Only made when standard error is a terminal, so
// files and pipes receive exactly what they always did.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include "jobs/Prompter.h"

namespace kvelv {

// " 47%  12.3 MB/s  0:42 left"; a rate of 0 or less shows as not yet known.
std::string ProgressLine(uint64_t done, uint64_t total, double bytesPerSecond);

class ConsoleProgress {
 public:
  using Clock = std::chrono::steady_clock;
  // A job shorter than `delay` shows nothing.
  static constexpr std::chrono::milliseconds kDelay{1000};
  static constexpr std::chrono::milliseconds kRedraw{250};

  explicit ConsoleProgress(std::ostream& out, std::function<Clock::time_point()> now = Clock::now);
  ~ConsoleProgress();
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  void Update(const JobProgress& progress);
  // Removes the line (if one is shown); the next Update draws it again.
  void Erase();

 private:
  double Rate(Clock::time_point now, uint64_t done);

  std::ostream& out_;
  std::function<Clock::time_point()> now_;
  Clock::time_point start_;
  Clock::time_point drawn_{};
  size_t shown_ = 0;  // characters of the line on the screen
  std::deque<std::pair<Clock::time_point, uint64_t>> samples_;  // the last few seconds
};

}  // namespace kvelv
