#include "ui/AskPassword.h"

#include <QByteArray>
#include <QDialog>
#include <QLineEdit>
#include <QString>

#include "jobs/LoginHash.h"
#include "jobs/SettingsFile.h"
#include "jobs/Prompter.h"
#include "platform/LockedMemory.h"
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

// The edit's text as UTF-8 in secret storage. The text the edit returns shares the edit's own
// storage; only the conversion makes a copy, which is wiped at once.
platform::SecretBytes PasswordOf(const QLineEdit& edit) {
  const QString text = edit.text();
  QByteArray utf8 = text.toUtf8();
  platform::SecretBytes password(utf8.constData(), static_cast<size_t>(utf8.size()));
  platform::WipeMemory(utf8.data(), static_cast<size_t>(utf8.size()));
  return password;
}

// Wipes the edit's text where it stands, then empties the edit. The text is written through the
// storage the edit shares with the copy taken here (a write through the copy's own functions
// would detach it and copy the password once more).
void WipePasswordEdit(QLineEdit& edit) {
  const QString text = edit.text();
  // Text set from a literal lives in the program's read-only data, not on the heap: nothing to
  // wipe there. Typed text is always on the heap.
  if (text.data_ptr().isMutable())
    platform::WipeMemory(const_cast<QChar*>(text.constData()), static_cast<size_t>(text.size()) * sizeof(QChar));
  edit.clear();
}

// Wipes the dialog's edit on every way out of the login.
class PasswordEditWiper {
 public:
  explicit PasswordEditWiper(QLineEdit& edit) : edit_(edit) {}
  ~PasswordEditWiper() { WipePasswordEdit(edit_); }
  PasswordEditWiper(const PasswordEditWiper&) = delete;
  PasswordEditWiper& operator=(const PasswordEditWiper&) = delete;

 private:
  QLineEdit& edit_;
};

}  // namespace

platform::SecretBytes AskPassword(const LoginServices& services) {
  Prompter& prompter = *services.prompter;
  PasswordDlg dialog;
  const PasswordEditWiper wiper(*dialog.txtPassword());
  for (;;) {
    const int result = services.runDialog ? services.runDialog(dialog) : dialog.exec();
    if (result != QDialog::Accepted) return {};

    std::unique_ptr<CryptComponent> crypt = services.createComponent
                                                ? services.createComponent()
                                                : CryptComponent::Create(CryptAlgorithms::LoginCheck(), nullptr);
    if (!crypt) {
      prompter.ShowMessage(kNotRegistered);
      return {};
    }
    platform::SecretBytes password = PasswordOf(*dialog.txtPassword());
    crypt->SetEncodingMode("base64");
    crypt->SetCharset("windows-1252");
    crypt->SetHashAlgorithm("md5");
    const std::string computed = crypt->DigestTextEncoded(password);

    const std::string stored = SettingsFile(services.settingsPath).ReadString("Password", "hash", "");
    if (stored.empty()) {
      prompter.ShowMessage(kNoHash);
      return {};
    }
    const bool accepted =
        stored == kCheckOff || (IsArgon2idLoginHash(stored) ? CheckArgon2idLoginHash(stored, password.View())
                                                            : CryptComponent::EqualInConstantTime(stored, computed));
    // An empty password would end the program as a cancel does, without a word: ask again.
    if (accepted && !password.Empty()) return password;

    prompter.ShowMessage(accepted ? kEmptyPassword : kWrongPassword);
    dialog.txtPassword()->selectAll();
    dialog.txtPassword()->setFocus();
  }
}

}  // namespace kvelv
