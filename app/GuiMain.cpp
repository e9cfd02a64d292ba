// Start-up of the interactive build: the password dialog, then the main window.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <exception>
#include <string>
#include <vector>

#include "app/LastChance.h"
#include "jobs/SettingsFile.h"
#include "platform/CoreDumps.h"
#include "platform/CrashExit.h"
#include "platform/StandardStreams.h"
#include "platform/TempGuardian.h"
#include "ui/DesktopIdentity.h"
#include "ui/Hoved.h"
#include "ui/InteractiveStartup.h"
#include "ui/QtPrompter.h"

int main(int argc, char** argv) {
  // First of all: no file or socket of ours may take the number of a stream the caller closed.
  if (!kvelv::platform::OpenStandardStreams()) return kvelv::exit_code::kUnhandledError;
  // A crash ends the process at once with exit code 1; on Windows that also keeps the system's
  // error reporting, and the dump it may write, away.
  kvelv::platform::EndProcessOnCrash(kvelv::exit_code::kUnhandledError);
  // No core file, whatever the shell allows: it would hold the password and the key.
  kvelv::platform::DisableCoreDumps();
  // While the process is small and has one thread, and before anything is copied.
  kvelv::platform::StartTempGuardian(argc, argv);
  // Qt needs its application object for the password dialog already; no window shows before it.
  QApplication app(argc, argv);
  // Before the first window: its class, icon and Qt's own texts in the user's language.
  kvelv::SetUpDesktopIdentity(app);
  try {
    kvelv::QtPrompter prompter;
    kvelv::LoginServices login;
    login.prompter = &prompter;
    login.settingsPath =
        kvelv::SettingsFile::DefaultPath(
            QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdString());
    std::vector<std::string> arguments;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) arguments.push_back(args[i].toStdString());

    return kvelv::RunInteractiveMode(prompter, login, arguments, [&](kvelv::Hoved& window) {
      prompter.SetParent(&window);
      window.show();
      QApplication::exec();
      prompter.SetParent(nullptr);
    });
  } catch (...) {
    QMessageBox::critical(nullptr, kvelv::AppTitle(),
                          QString::fromStdString(kvelv::DescribeException(std::current_exception())));
    return kvelv::exit_code::kUnhandledError;
  }
}
