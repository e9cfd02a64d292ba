#pragma once
// Runs a long piece of work off the user-interface thread while that thread keeps painting, with
// a progress dialog that never stands between the user and a message.
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "ui/ProgressDialog.h"

class QWidget;

namespace kvelv {

// The progress dialog of a running job (ui/ProgressDialog.h), owned by `owner`, and the state it
// shares with the job. Armed, it shows once the work has gone on for about a second (at once when
// it was shown before); held, it is hidden. Every message of the job holds it while the message
// is open, so a message never has it on top; once the work has ended it is closed for good.
class BusyIndicator {
 public:
  static constexpr int kDelayMs = 1000;
  explicit BusyIndicator(QWidget* owner, int delayMs = kDelayMs);
  ~BusyIndicator();
  BusyIndicator(const BusyIndicator&) = delete;
  BusyIndicator& operator=(const BusyIndicator&) = delete;

  // Arm() after each Disarm(): holds nest, the dialog shows again when the last one is released.
  void Arm();
  void Disarm();
  // Callable from any thread: the work is over, so the dialog must not show any more.
  void MarkEnded() { ended_ = true; }
  bool IsShown() const;
  // Held by something that is not over yet (a message, a question).
  bool IsHeld() const { return held_ > 0; }
  // The job's progress and the user's cancel request; callable from any thread.
  JobStatus& Status() { return status_; }
  // The dialog once it was shown (tests), else null.
  ProgressDialog* Dialog() const { return dialog_.get(); }

 private:
  void Show();

  QPointer<QWidget> owner_;
  QTimer delay_;
  JobStatus status_;
  std::unique_ptr<ProgressDialog> dialog_;
  int held_ = 0;
  std::atomic<bool> ended_{false};
};

// Runs `work` on a worker thread and returns when it is done, handling events meanwhile. `busy`
// (may be null) is armed while the work runs and closed before this returns. An exception
// escaping `work` is rethrown here, on the calling thread.
void RunInBackground(BusyIndicator* busy, const std::function<void()>& work);

}  // namespace kvelv
