// The login: the dialog as designed and every way through the check loop.
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QStyle>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <vector>

#include "tests/ui/ScriptedUiPrompter.h"
#ifndef _WIN32
#include <unistd.h>

#include "tests/support/MemoryScan.h"
#endif
#include "ui/AskPassword.h"
#include "ui/PasswordDlg.h"

using kvelv::AskPassword;
using kvelv::CryptComponent;
using kvelv::LoginServices;
using kvelv::PasswordDlg;
using kvelv::test::ScriptedUiPrompter;

namespace {

// Base64 of the MD5 of the windows-1252 bytes, as computed by openssl from iconv output.
const char* const kHashHemmelig = "+x1Y3pm+CrYzYm9OaPcSnQ==";
const char* const kHashBlabaer = "r16Ub3bQAeNqoXRNnLpWUg==";  // "blåbær"
// The Argon2id form of "blåbær", made by Python's argon2-cffi (four lanes, 1 MiB, one pass).
const char* const kArgon2Blabaer = "$argon2id$v=19$m=1024,t=1,p=4$kv4dmS1YmFM196f5Qe4u0A$xAD/dKSfpzzeijWY/y/Q9g";

void WriteSettings(const QString& path, const QByteArray& hashLine) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write("[Password]\r\n" + hashLine + "\r\n");
}

// One scripted showing of the dialog: what to type (nothing = keep the text) and the result.
struct Showing {
  std::optional<QString> type;
  int result = QDialog::Accepted;
  std::function<void(PasswordDlg&)> check;
};

struct Login {
  ScriptedUiPrompter prompter;
  std::vector<Showing> showings;
  std::size_t shown = 0;
  int componentsMade = 0;
  bool componentAvailable = true;

  std::string Run(const QString& settingsPath) {
    LoginServices services;
    services.prompter = &prompter;
    services.settingsPath = settingsPath.toStdString();
    services.runDialog = [this](PasswordDlg& dialog) {
      if (shown >= showings.size()) return int(QDialog::Rejected);
      const Showing& s = showings[shown++];
      if (s.check) s.check(dialog);
      if (s.type) dialog.txtPassword()->setText(*s.type);
      return s.result;
    };
    services.createComponent = [this]() -> std::unique_ptr<CryptComponent> {
      ++componentsMade;
      return componentAvailable ? CryptComponent::Create(kvelv::CryptAlgorithms::LoginCheck(), nullptr) : nullptr;
    };
    return std::string(AskPassword(services).View());
  }
};

}  // namespace

class AskPasswordTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogIsBuiltAsDesigned() {
    PasswordDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Orv Kvelv: Oppgi passord"));
    QCOMPARE(dialog.ClientArea()->size(), QSize(201, 70));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                      Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)));
    // Away from Windows the dialog draws its bare caption bar itself, wide enough for the caption.
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog.CaptionBar()->text(), dialog.windowTitle());
    QVERIFY(dialog.CaptionBar()->sizeHint().width() <= dialog.CaptionBar()->width());
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("OKBtn"));
    auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("CancelBtn"));
    QVERIFY(edit && ok && cancel);
    QCOMPARE(edit->geometry(), QRect(25, 8, 156, 21));
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QCOMPARE(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int('*'));
    QCOMPARE(ok->geometry(), QRect(25, 35, 75, 25));
    QCOMPARE(ok->text(), QStringLiteral("Logg inn"));
    QVERIFY(ok->isDefault());
    QCOMPARE(cancel->geometry(), QRect(106, 35, 75, 25));
    QCOMPARE(cancel->text(), QStringLiteral("Avbryt"));
    QCOMPARE(edit->nextInFocusChain(), ok);
    QCOMPARE(ok->nextInFocusChain(), cancel);
  }

  void enterAcceptsAndEscapeCancels() {
    PasswordDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.txtPassword(), QStringLiteral("abc"));
    QCOMPARE(dialog.txtPassword()->text(), QStringLiteral("abc"));
    QTest::keyClick(dialog.txtPassword(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    // Enter presses the button that has the focus.
    dialog.show();
    dialog.setResult(QDialog::Accepted);
    dialog.CancelBtn()->setFocus();
    QTest::keyClick(dialog.CancelBtn(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }

  // Every way through the check loop: the settings file (none: missing), what each showing of
  // the dialog gets, and what the login gives and says; -1 and 0: not checked.
  void checkLoopOutcomes() {
    const QString wrong = QStringLiteral("message: Feil passord! Prøv på nytt");
    const QString badIni = QStringLiteral("message: Feil i ini-fil, prøv og installer Orv Kvelv på nytt");
    const QString empty = QStringLiteral("message: Passordet kan ikke være tomt! Prøv på nytt");
    const QByteArray argon2 = QByteArray("hash=") + kArgon2Blabaer;
    const int A = QDialog::Accepted, R = QDialog::Rejected;
    QTemporaryDir dir;
    const QString ini = dir.filePath("kvelv.ini");
    auto expect = [&](const char* why, const std::optional<QByteArray>& settings, const std::vector<Showing>& showings,
                      const std::string& result, const QStringList& log, int componentsMade = -1, std::size_t shown = 0,
                      bool componentAvailable = true) {
      const auto trace = qScopeGuard([&, failedBefore = QTest::currentTestFailed()] {
        if (!failedBefore && QTest::currentTestFailed()) qWarning("in the case: %s", why);
      });
      QFile::remove(ini);
      if (settings) WriteSettings(ini, *settings);
      Login login;
      login.componentAvailable = componentAvailable;
      login.showings = showings;
      QCOMPARE(login.Run(ini), result);
      QCOMPARE(login.prompter.log, log);
      if (componentsMade >= 0) QCOMPARE(login.componentsMade, componentsMade);
      if (shown > 0) QCOMPARE(login.shown, shown);
    };
    // No settings file: reading it would have given the "Feil i ini-fil" message.
    expect("cancel at the first showing makes no component and shows nothing", std::nullopt,
           {{QStringLiteral("hemmelig"), R, {}}}, "", {}, 0);
    expect("wrong, then right password", QByteArray("hash=") + kHashHemmelig,
           {{QStringLiteral("feil"), A, {}},
            {QStringLiteral("hemmelig"), A,
             [](PasswordDlg& d) {
               // The rejected text is kept and fully selected.
               QCOMPARE(d.txtPassword()->text(), QStringLiteral("feil"));
               QCOMPARE(d.txtPassword()->selectedText(), QStringLiteral("feil"));
             }}},
           "hemmelig", {wrong}, 2);
    expect("a non-ASCII password hashes its windows-1252 bytes", QByteArray("hash=") + kHashBlabaer,
           {{QStringLiteral("blåbær"), A, {}}}, "blåbær", {});
    expect("an Argon2id hash is checked", argon2,
           {{QStringLiteral("blåbæR"), A, {}}, {QStringLiteral("blåbær"), A, {}}}, "blåbær", {wrong});
    // 2 GiB or eleven passes: refused as a wrong password, before anything is allocated.
    for (const char* params : {"m=2097152,t=1,p=1", "m=1024,t=11,p=1"}) {
      expect(params, QByteArray(argon2).replace("m=1024,t=1,p=4", params), {{QStringLiteral("blåbær"), A, {}}}, "",
             {wrong});
    }
    expect("a hash differing only in case is wrong", QByteArray("hash=") + QByteArray(kHashHemmelig).toUpper(),
           {{QStringLiteral("hemmelig"), A, {}}, {std::nullopt, R, {}}}, "", {wrong});
    expect("the sentinel accepts any password", QByteArray("hash=qj"), {{QStringLiteral("hva som helst"), A, {}}},
           "hva som helst", {});
    // Not silently the end of the program: a message and the dialog again, for a stored hash of
    // the empty password as much as for the switched-off check.
    for (const QByteArray& line : {QByteArray("hash=qj"), QByteArray("hash=1B2M2Y8AsgTpgAmY7PhCfg==")}) {
      expect(line.constData(), line, {{QString(), A, {}}, {QStringLiteral("x"), R, {}}}, "", {empty}, -1, 2);
    }
    expect("a missing settings file stops", std::nullopt, {{QStringLiteral("hemmelig"), A, {}}}, "", {badIni}, -1, 1);
    expect("an empty hash stops", QByteArray("hash="), {{QStringLiteral("hemmelig"), A, {}}}, "", {badIni});
    expect("a missing component is reported before the file is read", std::nullopt,
           {{QStringLiteral("hemmelig"), A, {}}}, "",
           {QStringLiteral("message: Krypteringskomponent ikke registrert.\n\r"
                           "Prøv og installer Orv Kvelv på nytt som administrator.\n\r"
                           "Ta kontakt med ORV om det ikke hjelper.")},
           -1, 0, false);
    expect("the hash is read afresh on every attempt", QByteArray("hash=") + kHashHemmelig,
           {{QStringLiteral("annet"), A, {}}, {std::nullopt, A, [&](PasswordDlg&) { WriteSettings(ini, "hash=qj"); }}},
           "annet", {wrong});
  }

  // The typed password ends up in the result alone: the edit's text is wiped and emptied when
  // the dialog goes, and the conversion leaves nothing behind.
  void typedPasswordLeavesNoCopyBehind() {
#ifdef _WIN32
    QSKIP("a process's memory is searched through /proc");
#else
    if (kvelv::test::UnderSanitizer()) QSKIP("a sanitizer's shadow memory cannot be searched");
    const auto secret = kvelv::test::MaskedSecret::Random("typed-password-", 32);
    QTemporaryDir dir;
    const QString ini = dir.filePath("kvelv.ini");
    WriteSettings(ini, "hash=qj");
    ScriptedUiPrompter prompter;
    LoginServices services;
    services.prompter = &prompter;
    services.settingsPath = ini.toStdString();
    services.runDialog = [&](PasswordDlg& dialog) {
      dialog.show();
      for (size_t i = 0; i < secret.Size(); ++i) QTest::keyClick(dialog.txtPassword(), static_cast<char>(secret.At(i)));
      return int(QDialog::Accepted);
    };
    {
      const kvelv::platform::SecretBytes password = AskPassword(services);
      QCOMPARE(password.Size(), secret.Size());
      QCOMPARE(kvelv::test::FindInMemory(getpid(), secret).size(), size_t{1});
      QVERIFY(kvelv::test::FindInMemory(getpid(), secret.Utf16()).empty());
    }
    QVERIFY(kvelv::test::FindInMemory(getpid(), secret).empty());
#endif
  }
};

QTEST_MAIN(AskPasswordTest)
#include "AskPasswordTest.moc"
