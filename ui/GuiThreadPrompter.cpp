#include "ui/GuiThreadPrompter.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <exception>
#include <functional>
#include <future>

#include "ui/BackgroundJob.h"

namespace kvelv {

namespace {
constexpr int kRetryMs = 50;
}  // namespace

template <typename Call>
void GuiThreadPrompter::OnGuiThread(Call&& call) {
  if (QThread::currentThread() == context_->thread()) {
    call();
    return;
  }
  // The asking thread waits for the answer; an exception comes back to it the same way.
  std::promise<void> answered;
  std::function<void()> attempt = [&] {
    // A question of the window's own is open (whether to stop the job): the job's message waits
    // until it is answered, instead of coming on top of it.
    if (busy_ && busy_->IsHeld()) {
      QTimer::singleShot(kRetryMs, context_, attempt);
      return;
    }
    if (busy_) busy_->Disarm();
    std::exception_ptr failure;
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    if (busy_) busy_->Arm();
    if (failure) {
      answered.set_exception(failure);
    } else {
      answered.set_value();
    }
  };
  QMetaObject::invokeMethod(context_, attempt, Qt::QueuedConnection);
  answered.get_future().get();
}

void GuiThreadPrompter::ShowMessage(const std::string& text) {
  OnGuiThread([&] { target_.ShowMessage(text); });
}

void GuiThreadPrompter::Notice(const std::string& text) {
  OnGuiThread([&] { target_.Notice(text); });
}

void GuiThreadPrompter::ShowMessageBox(const std::string& text, const std::string& caption) {
  OnGuiThread([&] { target_.ShowMessageBox(text, caption); });
}

void GuiThreadPrompter::Progress(const JobProgress& progress) {
  if (busy_) busy_->Status().Report(progress);
}

bool GuiThreadPrompter::CancelRequested() { return busy_ && busy_->Status().CancelRequested(); }

bool GuiThreadPrompter::AskYesNo(const std::string& text, const std::string& caption) {
  bool answer = false;
  OnGuiThread([&] { answer = target_.AskYesNo(text, caption); });
  return answer;
}

}  // namespace kvelv
