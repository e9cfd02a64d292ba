#include "ui/BackgroundJob.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QProgressDialog>
#include <exception>
#include <thread>

namespace kvelv {

BusyIndicator::BusyIndicator(QWidget* owner, int delayMs) : owner_(owner) {
  delay_.setSingleShot(true);
  delay_.setInterval(delayMs);
  QObject::connect(&delay_, &QTimer::timeout, [this] { Show(); });
}

BusyIndicator::~BusyIndicator() = default;

void BusyIndicator::Arm() {
  if (!ended_ && !dialog_) delay_.start();
}

void BusyIndicator::Disarm() {
  delay_.stop();
  dialog_.reset();
}

bool BusyIndicator::IsShown() const { return dialog_ && dialog_->isVisible(); }

void BusyIndicator::Show() {
  // The timer may fire in the moment between the work's end and the caller noticing it.
  if (ended_ || dialog_) return;
  dialog_ = std::make_unique<QProgressDialog>(QStringLiteral("Vent litt ..."), QString(), 0, 0, owner_);
  dialog_->setObjectName(QStringLiteral("BusyIndicator"));
  dialog_->setWindowTitle(QStringLiteral("Orv Kvelv"));
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setMinimumDuration(0);
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
