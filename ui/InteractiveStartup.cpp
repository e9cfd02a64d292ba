#include "ui/InteractiveStartup.h"

#include "ui/Hoved.h"
#include "ui/UiPrompter.h"

namespace kvelv {

int RunInteractiveMode(UiPrompter& prompter, const LoginServices& login,
                       const std::vector<std::string>& arguments,
                       const std::function<void(Hoved&)>& runWindow) {
  std::string password = AskPassword(login);
  if (password.empty()) return 0;
  Hoved window(prompter, login.settingsPath, arguments);
  window.SetPassword(password);
  password.assign(password.size(), '\0');
  runWindow(window);
  return 0;
}

}  // namespace kvelv
