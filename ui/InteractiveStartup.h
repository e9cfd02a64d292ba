#pragma once
// The interactive mode's start-up: the login first, the main window only after a non-empty
// password passed it.
#include <functional>
#include <string>
#include <vector>

#include "ui/AskPassword.h"

namespace kvelv {

class Hoved;
class UiPrompter;

// Runs AskPassword(login); with a non-empty result creates the main window (settings from
// login.settingsPath, `arguments` as its command-line parameters), hands it the password and
// the prompter's dialogs, and calls `runWindow` (show it and run the message loop). Returns the
// process exit code: 0, also when no password was accepted.
int RunInteractiveMode(UiPrompter& prompter, const LoginServices& login,
                       const std::vector<std::string>& arguments,
                       const std::function<void(Hoved&)>& runWindow);

}  // namespace kvelv
