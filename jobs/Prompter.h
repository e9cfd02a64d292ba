#pragma once
// How a job talks to the user. Batch mode implements it by asking nothing and writing one line to
// standard error for a notice or a failure (the exit code says the rest); the main window shows
// real dialogs; tests script answers.
#include <string>

namespace kvelv {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Simple message dialog: the text and an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // Platform message box with a caption and an OK button only (no icon).
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
  // Platform message box with a caption and Yes/No buttons (no icon); true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
  // Something the job did on purpose that the user should know of (a listed file left out).
  virtual void Notice(const std::string& /*text*/) {}
  // Why a job in batch mode failed; interactive mode puts the reason into its message instead.
  virtual void ReportFailure(const std::string& /*reason*/) {}
};

// For batch mode without a place to write to (and tests): shows nothing, answers No.
class SilentPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace kvelv
