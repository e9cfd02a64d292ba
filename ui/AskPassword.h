#pragma once
// The login: shows the password dialog until a password passes the check against the settings
// file's hash, or the user gives up.
#include <functional>
#include <memory>
#include <string>

#include "jobs/CryptComponent.h"
#include "platform/SecretBytes.h"

namespace kvelv {

class PasswordDlg;
class Prompter;

struct LoginServices {
  Prompter* prompter = nullptr;  // the messages; required
  std::string settingsPath;      // read afresh on every attempt
  // Runs the dialog modally and gives its result; the default is the dialog's exec().
  std::function<int(PasswordDlg&)> runDialog;
  // Makes a fresh crypto component; the default is CryptComponent::Create() with only what the
  // check needs (CryptAlgorithms::LoginCheck(): MD5). Null: not available.
  std::function<std::unique_ptr<CryptComponent>()> createComponent;
};

// The accepted password (UTF-8), or nothing when none was accepted (cancelled, no crypto
// component, no hash in the settings file). An empty password is never accepted, not even with
// the check switched off: the user is told and asked again. However it ends, the dialog's edit
// is wiped and emptied before the dialog goes.
platform::SecretBytes AskPassword(const LoginServices& services);

}  // namespace kvelv
