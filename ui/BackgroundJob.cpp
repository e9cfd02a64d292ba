#include "ui/BackgroundJob.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <exception>
#include <thread>

namespace kvelv {

BusyIndicator::BusyIndicator(QWidget* owner, int delayMs) : owner_(owner) {
  delay_.setSingleShot(true);
  delay_.setInterval(delayMs);
  QObject::connect(&delay_, &QTimer::timeout, [this] { Show(); });
  held_ = 1;  // until the work starts
}

BusyIndicator::~BusyIndicator() = default;

void BusyIndicator::Arm() {
  if (held_ > 0) --held_;
  if (held_ > 0 || ended_) return;
  if (dialog_) {
    dialog_->show();  // it was shown before: back at once, after the message that hid it
  } else {
    delay_.start();
  }
}

void BusyIndicator::Disarm() {
  ++held_;
  delay_.stop();
  if (!dialog_) return;
  if (ended_) {
    dialog_->Finish();
    dialog_.reset();
  } else {
    dialog_->hide();
  }
}

bool BusyIndicator::IsShown() const { return dialog_ && dialog_->isVisible(); }

void BusyIndicator::Show() {
  // The timer may fire in the moment between the work's end and the caller noticing it.
  if (ended_ || held_ > 0) return;
  if (!dialog_) dialog_ = std::make_unique<ProgressDialog>(status_, owner_);
  dialog_->show();
}

void RunInBackground(BusyIndicator* busy, const std::function<void()>& work) {
  QEventLoop loop;
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  if (busy) busy->Arm();
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    if (busy) busy->MarkEnded();
    done = true;
    // Posted, so it is seen even when the loop has not started yet.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  // An application-wide exit ends every loop early; the worker may still wait for an answer
  // from this thread, so keep serving events until it is done.
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  worker.join();
  if (busy) busy->Disarm();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kvelv
