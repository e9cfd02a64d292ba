// Start-up of the interactive mode: no main window without an accepted, non-empty password.
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/ui/ScriptedPrompter.h"
#include "ui/Hoved.h"
#include "ui/InteractiveStartup.h"
#include "ui/PasswordDlg.h"

using kvelv::test::ScriptedPrompter;

namespace {

struct Run {
  int exitCode = -1;
  int windows = 0;
  std::string windowPassword;
};

Run Start(const QString& settings, int dialogResult, const QString& typed) {
  ScriptedPrompter prompter;
  kvelv::LoginServices login;
  login.prompter = &prompter;
  login.settingsPath = settings.toStdString();
  int shown = 0;
  login.runDialog = [&](kvelv::PasswordDlg& dialog) {
    dialog.txtPassword()->setText(typed);
    return ++shown == 1 ? dialogResult : int(QDialog::Rejected);  // a second showing is cancelled
  };
  Run run;
  run.exitCode = kvelv::RunInteractiveMode(prompter, login, {}, [&](kvelv::Hoved& window) {
    ++run.windows;
    run.windowPassword = std::string(window.Password().View());
  });
  return run;
}

}  // namespace

class InteractiveStartupTest : public QObject {
  Q_OBJECT

 private slots:
  void cancelEndsWithoutAWindow() {
    QTemporaryDir dir;
    const Run run = Start(dir.filePath("kvelv.ini"), QDialog::Rejected, "hemmelig");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.windows, 0);
  }

  void acceptedPasswordReachesTheWindow() {
    QTemporaryDir dir;
    const QString ini = dir.filePath("kvelv.ini");
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Password]\nhash=qj\n");
    file.close();
    const Run run = Start(ini, QDialog::Accepted, " med mellomrom ");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.windows, 1);
    QCOMPARE(run.windowPassword, std::string(" med mellomrom "));

    const Run empty = Start(ini, QDialog::Accepted, QString());
    QCOMPARE(empty.exitCode, 0);
    QCOMPARE(empty.windows, 0);
  }
};

QTEST_MAIN(InteractiveStartupTest)
#include "InteractiveStartupTest.moc"
