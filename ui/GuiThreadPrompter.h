#pragma once
// Hands a job's questions and messages, asked from a worker thread, to the user-interface
// thread and waits for the answer. Called on the user-interface thread it answers directly.
#include <QObject>

#include "jobs/Prompter.h"

namespace kvelv {

class GuiThreadPrompter final : public Prompter {
 public:
  // `context` lives on the user-interface thread and outlives every call.
  GuiThreadPrompter(Prompter& target, QObject* context) : target_(target), context_(context) {}

  void ShowMessage(const std::string& text) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

 private:
  template <typename Call>
  void OnGuiThread(Call&& call);

  Prompter& target_;
  QObject* context_;
};

}  // namespace kvelv
