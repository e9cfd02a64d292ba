#include "ui/DesktopIdentity.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace kvelv {

namespace {

// The sizes of packaging/icons, built into the program as :/icons/<size>x<size>/kvelv.png.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : kIconSizes)
    icon.addFile(QStringLiteral(":/icons/%1x%1/kvelv.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace

void SetUpDesktopIdentity(QApplication& app) {
  // On X11 the application name is the class of WM_CLASS (its instance is the program's file
  // name); the desktop entry's StartupWMClass names the same.
  QCoreApplication::setApplicationName(QString::fromLatin1(kDesktopName));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopName));
  QApplication::setWindowIcon(ProgramIcon());
  InstallQtTranslations(app);
}

bool InstallQtTranslations(QCoreApplication& app, const QLocale& locale) {
  QList<QLocale> candidates{locale};
  if (locale.language() == QLocale::NorwegianBokmal)
    candidates.append(QLocale(QLocale::NorwegianNynorsk, locale.territory()));
  if (locale.language() == QLocale::NorwegianNynorsk)
    candidates.append(QLocale(QLocale::NorwegianBokmal, locale.territory()));
  const QString folders[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral(":/translations")};
  auto* translator = new QTranslator(&app);
  for (const QLocale& candidate : candidates) {
    for (const QString& folder : folders) {
      if (translator->load(candidate, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        QCoreApplication::installTranslator(translator);
        return true;
      }
    }
  }
  delete translator;
  return false;
}

}  // namespace kvelv
