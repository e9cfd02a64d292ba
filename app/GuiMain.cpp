// Start-up of the interactive build: the password dialog, then the main window.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <string>
#include <vector>

#include "app/ConsoleMode.h"
#include "app/LastChance.h"
#include "app/SettingsFile.h"
#include "ui/AskPassword.h"
#include "ui/Hoved.h"
#include "ui/QtPrompter.h"

namespace {

int RunInteractive(QApplication& app) {
  kvelv::QtPrompter prompter;
  const std::string settingsPath =
      kvelv::SettingsFile::DefaultPath(QCoreApplication::applicationFilePath().toStdString());

  kvelv::LoginServices login;
  login.prompter = &prompter;
  login.settingsPath = settingsPath;
  std::string password = kvelv::AskPassword(login);
  if (password.empty()) return 0;

  std::vector<std::string> arguments;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) arguments.push_back(args[i].toStdString());

  kvelv::Hoved hoved(prompter, settingsPath, arguments);
  prompter.SetParent(&hoved);
  hoved.SetPassword(password);
  password.assign(password.size(), '\0');
  hoved.show();
  app.exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  kvelv::ConsoleMode = false;
  QApplication app(argc, argv);
  // The application title; it is also the caption of the simple message dialogs.
  QCoreApplication::setApplicationName(QStringLiteral("Orv krypterings klient"));
  try {
    return RunInteractive(app);
  } catch (...) {
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                          QString::fromStdString(kvelv::DescribeException(std::current_exception())));
    return kvelv::kUnhandledErrorExitCode;
  }
}
