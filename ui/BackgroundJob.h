#pragma once
// Runs a long piece of work off the user-interface thread while that thread keeps painting, with
// a busy indication that never stands between the user and a message.
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace kvelv {

// The "Vent litt ..." indication of a running job, owned by `owner`. Armed, it shows once the
// work has gone on for about a second; disarmed, it is closed and stays closed. It is disarmed
// before every message of the job and once the work has ended, so a message never has it on top.
class BusyIndicator {
 public:
  static constexpr int kDelayMs = 1000;
  explicit BusyIndicator(QWidget* owner, int delayMs = kDelayMs);
  ~BusyIndicator();
  BusyIndicator(const BusyIndicator&) = delete;
  BusyIndicator& operator=(const BusyIndicator&) = delete;

  void Arm();
  void Disarm();
  // Callable from any thread: the work is over, so the indication must not show any more.
  void MarkEnded() { ended_ = true; }
  bool IsShown() const;

 private:
  void Show();

  QPointer<QWidget> owner_;
  QTimer delay_;
  std::unique_ptr<QProgressDialog> dialog_;
  std::atomic<bool> ended_{false};
};

// Runs `work` on a worker thread and returns when it is done, handling events meanwhile. `busy`
// (may be null) is armed while the work runs and disarmed before this returns. An exception
// escaping `work` is rethrown here, on the calling thread.
void RunInBackground(BusyIndicator* busy, const std::function<void()>& work);

}  // namespace kvelv
