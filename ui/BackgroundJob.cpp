#include "ui/BackgroundJob.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace kvelv {

namespace {
constexpr int kBusyIndicatorDelayMs = 1000;
}

void RunInBackground(QWidget* owner, const std::function<void()>& work) {
  QEventLoop loop;
  std::exception_ptr failure;
  std::unique_ptr<QProgressDialog> busy;

  QTimer delay;
  delay.setSingleShot(true);
  QObject::connect(&delay, &QTimer::timeout, [&] {
    busy = std::make_unique<QProgressDialog>(QStringLiteral("Vent litt ..."), QString(), 0, 0, owner);
    busy->setObjectName(QStringLiteral("BusyIndicator"));
    busy->setWindowTitle(QStringLiteral("Orv Kvelv"));
    busy->setWindowModality(Qt::WindowModal);
    busy->setMinimumDuration(0);
    busy->show();
  });
  delay.start(kBusyIndicatorDelayMs);

  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    // Posted, so it is seen even when the loop has not started yet.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  // An application-wide exit ends every loop early; the worker may still wait for an answer
  // from this thread, so keep serving events until it is done.
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  worker.join();
  delay.stop();
  busy.reset();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kvelv
