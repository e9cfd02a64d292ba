#pragma once
// A Prompter for tests: records everything a job shows and answers questions from a script.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "jobs/Prompter.h"

namespace kvelv::test {

class ScriptedPrompter : public Prompter {
 public:
  struct Shown {
    std::string kind;  // "message", "box" or "question"
    std::string text;
    std::string caption;
  };

  void ShowMessage(const std::string& text) override { shown.push_back({"message", text, ""}); }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    shown.push_back({"box", text, caption});
    if (onMessageBox) onMessageBox();
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    shown.push_back({"question", text, caption});
    if (answers.empty()) throw std::logic_error("unexpected question: " + text);
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }

  void ReportFailure(const std::string& reason) override { failures.push_back(reason); }

  std::vector<Shown> shown;
  std::vector<std::string> failures;  // batch mode's reasons, one a failure
  std::deque<bool> answers;
  // Runs while a message box is "open", e.g. to release a lock before the user presses OK.
  std::function<void()> onMessageBox;
};

}  // namespace kvelv::test
