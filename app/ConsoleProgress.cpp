#include "app/ConsoleProgress.h"

#include <algorithm>
#include <cstdio>

namespace kvelv {

namespace {

// The throughput is measured over this much of the recent past, so time left follows the step
// the job is in (packing is slower than encrypting).
constexpr std::chrono::seconds kRateWindow{5};

std::string Duration(double seconds) {
  const auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 10e6) {
    std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerSecond / 1e6);
  } else if (bytesPerSecond >= 1e6) {
    std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.0f kB/s", bytesPerSecond / 1e3);
  }
  return text;
}

}  // namespace

std::string ProgressLine(uint64_t done, uint64_t total, double bytesPerSecond) {
  const uint64_t percent = total == 0 ? 0 : std::min<uint64_t>(100, done * 100 / total);
  char head[16];
  std::snprintf(head, sizeof head, "%3u%%", static_cast<unsigned>(percent));
  if (bytesPerSecond <= 0) return std::string(head) + "  -- MB/s  --:-- left";
  const double left = static_cast<double>(total > done ? total - done : 0) / bytesPerSecond;
  return std::string(head) + "  " + Rate(bytesPerSecond) + "  " + Duration(left) + " left";
}

ConsoleProgress::ConsoleProgress(std::ostream& out, std::function<Clock::time_point()> now)
    : out_(out), now_(std::move(now)), start_(now_()) {
  samples_.emplace_back(start_, 0);  // the job starts with nothing done
}

ConsoleProgress::~ConsoleProgress() { Erase(); }

// Sampled at each redraw only, so the window holds a few dozen points at most.
double ConsoleProgress::Rate(Clock::time_point now, uint64_t done) {
  samples_.emplace_back(now, done);
  while (samples_.size() > 2 && now - samples_[1].first >= kRateWindow) samples_.pop_front();
  const auto& [since, from] = samples_.front();
  const double seconds = std::chrono::duration<double>(now - since).count();
  if (seconds < 0.2 || done < from) return 0;
  return static_cast<double>(done - from) / seconds;
}

void ConsoleProgress::Update(const JobProgress& progress) {
  const Clock::time_point now = now_();
  if (now - start_ < kDelay || (shown_ > 0 && now - drawn_ < kRedraw)) return;
  const std::string line = ProgressLine(progress.done, progress.total, Rate(now, progress.done));
  std::string text(1, '\r');
  text += line;
  if (line.size() < shown_) text.append(shown_ - line.size(), ' ');
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.flush();
  shown_ = line.size();
  drawn_ = now;
}

void ConsoleProgress::Erase() {
  if (shown_ == 0) return;
  std::string text(1, '\r');
  text.append(shown_, ' ');
  text.push_back('\r');
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.flush();
  shown_ = 0;
}

}  // namespace kvelv
