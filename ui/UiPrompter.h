#pragma once
// Every dialog the interactive windows use, behind one interface, so that tests answer them from a
// script instead of blocking on a modal window. The jobs see only the Prompter part of it.
#include <optional>
#include <string>

#include "jobs/Prompter.h"

namespace kvelv {

class SelectFolderDialog;

class UiPrompter : public Prompter {
 public:
  // The confirmation dialog: caption "Confirm", question icon, buttons "&Yes" and "&No".
  // False only for No (Escape presses No); any other way of closing counts as Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // A question of the program's own with the application title and Yes and No, the platform's
  // buttons in the user's language; No is the default and Escape answers it. True for Yes.
  virtual bool AskQuestion(const std::string& text) = 0;
  // A warning with an OK button (the folder chooser's failures).
  virtual void ShowWarning(const std::string& text) = 0;
  // The error box for a failure no handler expected; the window stays open.
  virtual void ShowError(const std::string& text) = 0;
  // A file-open dialog that accepts only an existing file; the chosen path, or nothing on cancel.
  // `filter` is in Qt's form, "Description (*.ext)".
  virtual std::optional<std::string> AskOpenFile(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& initialFolder) = 0;
  // Runs the folder chooser; true when the user confirmed (its FolderPath then holds the choice).
  virtual bool RunFolderChooser(SelectFolderDialog& chooser) = 0;
  // Asks the desktop shell to open the folder; failures are ignored.
  virtual void OpenFolder(const std::string& path) = 0;
};

}  // namespace kvelv
