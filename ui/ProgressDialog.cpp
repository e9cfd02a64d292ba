#include "ui/ProgressDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/FocusCues.h"

namespace kvelv {

namespace {

const char* const kWorking = "Vent litt ...";
const char* const kStopping = "Avbryter ...";
const char* const kCancel = "Avbryt";
constexpr int kWidth = 360;

}  // namespace

void JobStatus::Report(const JobProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  latest_.done = progress.done;
  latest_.total = progress.total;
  if (latest_.file != progress.file) latest_.file = progress.file;
}

JobProgress JobStatus::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

ProgressDialog::ProgressDialog(JobStatus& status, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      status_(status),
      caption_(new QLabel(QString::fromUtf8(kWorking), this)),
      file_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QString::fromUtf8(kCancel), this)) {
  setObjectName(QStringLiteral("ProgressDialog"));
  setWindowTitle(QStringLiteral("0 % – Orv Kvelv"));
  caption_->setObjectName(QStringLiteral("Caption"));
  file_->setObjectName(QStringLiteral("File"));
  file_->setTextFormat(Qt::PlainText);
  file_->setMinimumWidth(kWidth - 24);
  bar_->setObjectName(QStringLiteral("Bar"));
  bar_->setRange(0, 1000);  // tenths of a per cent: the bar moves on a large file too
  bar_->setValue(0);
  bar_->setFormat(QStringLiteral("%p %"));
  cancel_->setObjectName(QStringLiteral("btnCancel"));
  // Escape, a click or Space stop the job; an Enter meant for the window or a message does not.
  cancel_->setAutoDefault(false);
  cancel_->setDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::RequestCancel);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addWidget(file_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ShowFocusFromTheStart(this);

  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &ProgressDialog::Refresh);
  refresh_.start();
  Refresh();
}

void ProgressDialog::Finish() {
  finished_ = true;
  refresh_.stop();
  close();
}

void ProgressDialog::RequestCancel() {
  if (finished_) return;
  status_.RequestCancel();
  caption_->setText(QString::fromUtf8(kStopping));
  cancel_->setEnabled(false);
}

void ProgressDialog::reject() {
  if (finished_) {
    QDialog::reject();
    return;
  }
  RequestCancel();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  if (finished_) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  RequestCancel();
}

void ProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Refresh();
  // The dialog takes the keyboard, so Escape reaches it, also when it comes back after a message.
  raise();
  activateWindow();
}

void ProgressDialog::Refresh() {
  const JobProgress progress = status_.Latest();
  const uint64_t total = std::max<uint64_t>(progress.total, 1);
  const auto tenths = static_cast<int>(std::min<uint64_t>(1000, progress.done * 1000 / total));
  if (tenths > bar_->value()) {
    bar_->setValue(tenths);
    // The share in the caption too, where the task bar and the window list show it.
    const QString title = QStringLiteral("%1 % – Orv Kvelv").arg(tenths / 10);
    if (windowTitle() != title) setWindowTitle(title);
  }
  const QString file = QString::fromStdString(progress.file);
  const QString shown = file_->fontMetrics().elidedText(file, Qt::ElideMiddle, file_->minimumWidth());
  if (file_->text() != shown) file_->setText(shown);
}

}  // namespace kvelv
