#include "ui/AskPassword.h"

#include <QDialog>
#include <QLineEdit>

#include "jobs/LoginHash.h"
#include "jobs/SettingsFile.h"
#include "jobs/Prompter.h"
#include "ui/PasswordDlg.h"

namespace kvelv {

namespace {

const char* const kNotRegistered =
    "Krypteringskomponent ikke registrert.\n\r"
    "Prøv og installer Orv Kvelv på nytt som administrator.\n\r"
    "Ta kontakt med ORV om det ikke hjelper.";
const char* const kNoHash = "Feil i ini-fil, prøv og installer Orv Kvelv på nytt";
const char* const kWrongPassword = "Feil passord! Prøv på nytt";
const char* const kEmptyPassword = "Passordet kan ikke være tomt! Prøv på nytt";
// Stored instead of a hash, switches the check off.
const char* const kCheckOff = "qj";

}  // namespace

std::string AskPassword(const LoginServices& services) {
  Prompter& prompter = *services.prompter;
  PasswordDlg dialog;
  for (;;) {
    const int result = services.runDialog ? services.runDialog(dialog) : dialog.exec();
    if (result != QDialog::Accepted) return "";

    std::unique_ptr<CryptComponent> crypt =
        services.createComponent ? services.createComponent() : CryptComponent::Create();
    if (!crypt) {
      prompter.ShowMessage(kNotRegistered);
      return "";
    }
    const std::string password = dialog.txtPassword()->text().toStdString();
    crypt->SetEncodingMode("base64");
    crypt->SetCharset("windows-1252");
    crypt->SetHashAlgorithm("md5");
    const std::string computed = crypt->DigestTextEncoded(password);

    const std::string stored = SettingsFile(services.settingsPath).ReadString("Password", "hash", "");
    if (stored.empty()) {
      prompter.ShowMessage(kNoHash);
      return "";
    }
    const bool accepted = stored == kCheckOff ||
                          (IsArgon2idLoginHash(stored) ? CheckArgon2idLoginHash(stored, password) : stored == computed);
    // An empty password would end the program as a cancel does, without a word: ask again.
    if (accepted && !password.empty()) return password;

    prompter.ShowMessage(accepted ? kEmptyPassword : kWrongPassword);
    dialog.txtPassword()->selectAll();
    dialog.txtPassword()->setFocus();
  }
}

}  // namespace kvelv
