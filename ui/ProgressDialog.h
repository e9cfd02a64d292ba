#pragma once
// The progress of a running job, on top of the window that started it: the share of the work
// done, the file at hand and "Avbryt". Escape and the window's close button do what "Avbryt"
// does (they ask the job to stop); nothing closes the dialog while the job runs.
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <mutex>

#include "jobs/Prompter.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kvelv {

// What a job's thread and the window share: the job's latest progress and the user's request to
// stop it. Every member may be called from any thread.
class JobStatus {
 public:
  void Report(const JobProgress& progress);
  JobProgress Latest() const;
  void RequestCancel() { cancel_ = true; }
  bool CancelRequested() const { return cancel_; }

 private:
  mutable std::mutex mutex_;
  JobProgress latest_;
  std::atomic<bool> cancel_{false};
};

class ProgressDialog final : public QDialog {
  Q_OBJECT

 public:
  // How often the dialog shows the job's latest progress.
  static constexpr int kRefreshMs = 100;

  ProgressDialog(JobStatus& status, QWidget* owner);

  // The job has ended: the dialog may close now.
  void Finish();

  QLabel* Caption() const { return caption_; }
  QLabel* FileLabel() const { return file_; }
  QProgressBar* Bar() const { return bar_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void reject() override;  // Escape
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void RequestCancel();
  void Refresh();

  JobStatus& status_;
  QLabel* caption_;
  QLabel* file_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  QTimer refresh_;
  bool finished_ = false;
};

}  // namespace kvelv
