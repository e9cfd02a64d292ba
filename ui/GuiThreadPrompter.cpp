#include "ui/GuiThreadPrompter.h"

#include <QMetaObject>
#include <QThread>
#include <exception>

#include "ui/BackgroundJob.h"

namespace kvelv {

template <typename Call>
void GuiThreadPrompter::OnGuiThread(Call&& call) {
  if (QThread::currentThread() == context_->thread()) {
    call();
    return;
  }
  // An exception must not cross the queued call; carry it back to the asking thread.
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      context_,
      [&] {
        if (busy_) busy_->Disarm();
        try {
          call();
        } catch (...) {
          failure = std::current_exception();
        }
        if (busy_) busy_->Arm();
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
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
