#pragma once
// Answers the windows' dialogs from a script and records every one, so tests can check what the
// user would have seen, in order, without a modal window.
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <string>

#include "ui/SelectFolderDialog.h"
#include "ui/UiPrompter.h"

namespace kvelv::test {

class ScriptedPrompter final : public UiPrompter {
 public:
  // Everything shown so far, one line per dialog: "<kind>: <text>".
  QStringList log;
  // Answers, taken from the front; an empty queue answers No / cancel and logs "unanswered".
  std::deque<bool> yesNoAnswers;
  std::deque<bool> confirmAnswers;
  std::deque<bool> questionAnswers;
  std::deque<std::optional<std::string>> openFileAnswers;
  std::deque<std::optional<std::string>> folderAnswers;

  void ShowMessage(const std::string& text) override { Add("message", text); }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    Add("box", caption + " | " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    Add("yesno", caption + " | " + text);
    return Take(yesNoAnswers, false);
  }
  bool Confirm(const std::string& text) override {
    Add("confirm", text);
    return Take(confirmAnswers, false);
  }
  bool AskQuestion(const std::string& text) override {
    Add("question", text);
    return Take(questionAnswers, false);
  }
  void ShowWarning(const std::string& text) override { Add("warning", text); }
  void ShowError(const std::string& text) override { Add("error", text); }
  std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                         const std::string& initialFolder) override {
    Add("open", title + " | " + filter + " | " + initialFolder);
    return Take(openFileAnswers, std::optional<std::string>());
  }
  bool RunFolderChooser(SelectFolderDialog& chooser) override {
    Add("chooser", chooser.Title() + " | " + chooser.FolderPath());
    const auto answer = Take(folderAnswers, std::optional<std::string>());
    if (answer) chooser.SetFolderPath(*answer);
    return answer.has_value();
  }
  void OpenFolder(const std::string& path) override { Add("openfolder", path); }

 private:
  void Add(const char* kind, const std::string& text) {
    log << QString::fromLatin1(kind) + QStringLiteral(": ") + QString::fromStdString(text);
  }
  template <typename T>
  T Take(std::deque<T>& queue, T fallback) {
    if (queue.empty()) {
      log << QStringLiteral("unanswered");
      return fallback;
    }
    T answer = queue.front();
    queue.pop_front();
    return answer;
  }
};

}  // namespace kvelv::test
