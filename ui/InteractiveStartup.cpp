#include "ui/InteractiveStartup.h"

#include "ui/Hoved.h"
#include "ui/UiPrompter.h"

namespace kvelv {

int RunInteractiveMode(UiPrompter& prompter, const LoginServices& login,
                       const std::vector<std::string>& arguments,
                       const std::function<void(Hoved&)>& runWindow) {
  platform::SecretBytes password = AskPassword(login);
  if (password.Empty()) return 0;
  Hoved window(prompter, login.settingsPath, arguments);
  window.SetPassword(std::move(password));
  runWindow(window);
  return 0;
}

}  // namespace kvelv
