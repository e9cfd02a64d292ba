#pragma once
// A job's side of the progress it reports: the numbers it sends never run backwards, whatever
// the estimates behind them do, and the user's cancel request is one call away.
#include <algorithm>
#include <cstdint>
#include <string>

#include "jobs/Prompter.h"

namespace kvelv {

class ProgressReport {
 public:
  explicit ProgressReport(Prompter& prompter) : prompter_(prompter) {}

  // `done` of `total` bytes, `file` the file at hand (a name, without its folders).
  void Send(int64_t done, int64_t total, const std::string& file) {
    progress_.done = std::max(progress_.done, static_cast<uint64_t>(std::max<int64_t>(done, 0)));
    progress_.total = std::max(progress_.done, static_cast<uint64_t>(std::max<int64_t>(total, 0)));
    progress_.file = file;
    prompter_.Progress(progress_);
  }
  bool CancelRequested() { return prompter_.CancelRequested(); }

 private:
  Prompter& prompter_;
  JobProgress progress_;
};

}  // namespace kvelv
