#pragma once
// What the desktop knows the interactive build by: the name its windows are grouped and matched
// under (WM_CLASS on X11, the desktop entry's StartupWMClass), the desktop entry it belongs to,
// the icon of every window, and Qt's own texts (the platform's buttons of a question, the file
// dialog) in the user's language. The program's own texts do not change with the language.
#include <QLocale>

class QApplication;
class QCoreApplication;

namespace kvelv {

// The desktop entry's name without ".desktop", the X11 window class and the application name.
inline constexpr char kDesktopName[] = "kvelv-gui";

// Call once, before the first window is made.
void SetUpDesktopIdentity(QApplication& app);

// Installs Qt's translation for `locale` into `app`: from the system's Qt (on Debian the package
// qt6-translations-l10n), else from the copy built into the program (the static Windows build
// carries the Norwegian one). Norwegian falls back to its other written form when only that one
// is there (Debian's Qt has Nynorsk only; the buttons' words are the same). False when there is
// none for the locale (English needs none).
bool InstallQtTranslations(QCoreApplication& app, const QLocale& locale = QLocale());

}  // namespace kvelv
