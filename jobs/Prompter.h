#pragma once
// How a job talks to the user. Batch mode implements it by asking nothing and writing one line to
// standard error for a notice or a failure (the exit code says the rest); the main window shows
// real dialogs; tests script answers.
#include <cstdint>
#include <string>

namespace kvelv {

// Where a long job has got to: bytes handled of the bytes it has to handle in all (an encrypt:
// the files packed, then the archive encrypted; a decrypt: the entries tested and written), and
// the file at hand. `total` may grow or shrink while the job learns more; `done` never falls.
struct JobProgress {
  uint64_t done = 0;
  uint64_t total = 0;
  std::string file;
};

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
  // Sent by the job's own thread between blocks of work, many times a second; the implementation
  // decides how often to show it.
  virtual void Progress(const JobProgress& /*progress*/) {}
  // True once the user asked the job to stop. The job looks between blocks of work (from its own
  // thread and the threads working for it) and then ends as a failure would, leaving nothing.
  virtual bool CancelRequested() { return false; }
};

// For batch mode without a place to write to (and tests): shows nothing, answers No.
class SilentPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace kvelv
