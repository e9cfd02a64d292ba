#pragma once
// Hands a job's questions and messages, asked from a worker thread, to the user-interface
// thread and waits for the answer. Called on the user-interface thread it answers directly.
// Progress and the cancel request go through the busy indication's shared state instead.
#include <QObject>

#include "jobs/Prompter.h"

namespace kvelv {

class BusyIndicator;

class GuiThreadPrompter final : public Prompter {
 public:
  // `context` lives on the user-interface thread and outlives every call. A `busy` indication
  // (may be null) is hidden while a message waits for the user and armed again after it.
  GuiThreadPrompter(Prompter& target, QObject* context, BusyIndicator* busy = nullptr)
      : target_(target), context_(context), busy_(busy) {}

  void ShowMessage(const std::string& text) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void Notice(const std::string& text) override;
  // Kept for the progress dialog, which shows the latest a few times a second; no call waits
  // for the user-interface thread.
  void Progress(const JobProgress& progress) override;
  bool CancelRequested() override;

 private:
  template <typename Call>
  void OnGuiThread(Call&& call);

  Prompter& target_;
  QObject* context_;
  BusyIndicator* busy_;
};

}  // namespace kvelv
