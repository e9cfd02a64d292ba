#pragma once
// The real dialogs: message boxes, the file-open dialog, the folder chooser and the desktop shell.
#include <QPointer>
#include <QString>
#include <QWidget>

#include "ui/UiPrompter.h"

namespace kvelv {

// The jobs break lines with "\n\r" (and batch texts with "\r\n"); a label would show the stray
// carriage return, so both become one line feed for display only.
QString DisplayText(const std::string& text);
// The application title: the caption of the simple message dialogs.
QString AppTitle();
// The width a window needs for its caption to show whole in the title bar.
int CaptionWidth(const QString& caption);

class QtPrompter final : public UiPrompter {
 public:
  // Dialogs are owned by `parent` (may be null: centred on the screen).
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  // A file the job left out on purpose: a simple message, so the user knows before the result.
  void Notice(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  bool AskQuestion(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                         const std::string& initialFolder) override;
  bool RunFolderChooser(SelectFolderDialog& chooser) override;
  void OpenFolder(const std::string& path) override;

 private:
  QWidget* Owner() const;

  QPointer<QWidget> parent_;
};

}  // namespace kvelv
