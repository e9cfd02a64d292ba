// The interactive build on Windows (under Wine, offscreen): settings beside the executable
// through the private-profile functions, the designed fonts, "\" paths with drive letters in the
// edits and the folder chooser, the Recycle Bin, and a round trip through the main window.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "jobs/SettingsFile.h"
#include "platform/Desktop.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/Hoved.h"
#include "ui/SelectFolderForm.h"

using kvelv::Hoved;
using kvelv::test::ScriptedPrompter;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QLineEdit* Edit(Hoved& w, const char* name) { return w.findChild<QLineEdit*>(QString::fromLatin1(name)); }

void Click(Hoved& w, const char* name) {
  QTest::mouseClick(w.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

}  // namespace

class WinGuiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  // The native form of a path in the test's folder: "C:\...\name".
  QString Native(const QString& name) const { return QDir::toNativeSeparators(dir_.filePath(name)); }
  QString MakeFolder(const QString& name) const {
    QDir().mkpath(dir_.filePath(name));
    return Native(name);
  }

 private slots:
  void settingsBesideTheExecutableThroughPrivateProfile() {
    const std::string exe = S(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    QVERIFY2(exe.size() > 3 && exe[1] == ':' && exe[2] == '\\', exe.c_str());
    QCOMPARE(kvelv::SettingsFile::BesideExecutable(exe), exe.substr(0, exe.size() - 4) + ".ini");

    const QString ini = Native("kvelv-gui.ini");
    const QString folder = QStringLiteral("D:\\Utgående\\");
    ScriptedPrompter prompter;
    {
      Hoved w(prompter, S(ini), {});
      Edit(w, "txtEncryptToFolder")->setText(folder);
      w.show();
      QVERIFY(w.close());
    }
    // The system's own reader finds what the window wrote, and the next window shows it again.
    wchar_t value[2048] = {};
    GetPrivateProfileStringW(L"LastUsedPaths", L"EncryptToFolder", L"?", value, 2048,
                             kvelv::platform::win32::Widen(S(ini)).c_str());
    QCOMPARE(QString::fromWCharArray(value), folder);
    Hoved again(prompter, S(ini), {});
    QCOMPARE(Edit(again, "txtEncryptToFolder")->text(), folder);
    QVERIFY(prompter.log.isEmpty());
  }

  void designedFonts() {
    QCOMPARE(kvelv::MainWindowFont().family(), QStringLiteral("Tahoma"));
    ScriptedPrompter prompter;
    kvelv::SelectFolderForm form(prompter, kvelv::sfdoCreateDeleteButtons, true);
    QCOMPARE(form.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form.font().pixelSize(), 11);
  }

  void buttonsStartInBackslashFolders() {
    const QString sub = MakeFolder(QStringLiteral("Dokumenter og bilder"));
    const QString current = Q(kvelv::platform::CurrentFolder());
    const struct {
      const char* edit;
      const char* button;
      QString text;
      QString expected;
    } cases[] = {
        {"txtEncryptedFile", "btnEncryptedFile", sub + "\\x.orvkvelv",
         "open: Velg fil som skal dekrypteres. | Orv kryptert (*.orvkvelv) | " + sub},
        {"txtFileToEncrypt", "btnFileToEncrypt", QStringLiteral("Q:\\finnes ikke\\x.txt"),
         "open: Velg fil som skal krypteres. | Alle filer (*) | " + current},
        {"txtDecryptToFolder", "btnDecryptToFolder", sub + "\\",
         "chooser: Velg mappe for dekryptert fil | " + sub + "\\"},
        {"txtEncryptToFolder", "btnEncryptToFolder", QStringLiteral("C:\\"),
         QStringLiteral("chooser: Velg mappe for kryptert fil | C:\\")},
    };
    for (const auto& c : cases) {
      ScriptedPrompter prompter;
      Hoved w(prompter, S(Native("knapper.ini")), {});
      Edit(w, c.edit)->setText(c.text);
      Click(w, c.button);
      QCOMPARE(prompter.log, (QStringList{c.expected, QStringLiteral("unanswered")}));
      QCOMPARE(Edit(w, c.edit)->text(), c.text);
    }
  }

  void folderChooserSpeaksNativePaths() {
    const QString berries = MakeFolder(QStringLiteral("Blåbær"));
    MakeFolder(QStringLiteral("Blåbær/New Folder"));
    ScriptedPrompter prompter;
    kvelv::SelectFolderForm form(prompter, kvelv::sfdoCreateDeleteButtons, true);
    form.SelectPath("C:\\");
    QCOMPARE(Q(form.SelectedPath()), QStringLiteral("C:\\"));
    form.SelectPath(S(berries + "\\"));
    QCOMPARE(Q(form.SelectedPath()), berries);
    form.CreateBtnClick();
    QVERIFY(prompter.log.isEmpty());
    QVERIFY(QDir(berries + "\\New Folder (2)").exists());
    QCOMPARE(Q(form.SelectedPath()), berries + "\\New Folder (2)");
  }

  void deleteMovesToTheRecycleBin() {
    // Wine keeps its Recycle Bin in the desktop's trash folder.
    const QString trash = qEnvironmentVariable("KVELV_TRASH_FILES");
    if (!trash.isEmpty()) {
      QDir(trash + "/Kast meg").removeRecursively();
      QFile::remove(trash + "/../info/Kast meg.trashinfo");
    }
    const QString doomed = MakeFolder(QStringLiteral("Kast meg"));
    QVERIFY(QFile(dir_.filePath("Kast meg/innhold.txt")).open(QIODevice::WriteOnly));
    QCOMPARE(kvelv::platform::ShellRecycleFolder(S(doomed), 0, false), std::optional<bool>(true));
    QVERIFY(!QDir(doomed).exists());
    if (!trash.isEmpty()) QVERIFY(QFile::exists(trash + "/Kast meg/innhold.txt"));
  }

  void encryptThenDecryptThroughTheWindow() {
    const QString encrypted = MakeFolder(QStringLiteral("Kryptert"));
    const QString out = MakeFolder(QStringLiteral("Ut med æ"));
    const QString source = Native("brød.txt");
    const QByteArray content = "Årsrapport\r\n" + QByteArray(300000, 'x');
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    ScriptedPrompter prompter;
    Hoved w(prompter, S(Native("rundtur.ini")), {});
    w.SetPassword(kvelv::platform::SecretBytes("hemmelig"));
    Edit(w, "txtFileToEncrypt")->setText(source);
    Edit(w, "txtEncryptToFolder")->setText(encrypted);
    Click(w, "btnEncrypt");
    const QStringList containers = QDir(encrypted).entryList({"*.orvkvelv"}, QDir::Files);
    QCOMPARE(containers.size(), 1);
    const QString container = encrypted + "\\" + containers[0];
    QCOMPARE(prompter.log, QStringList{"message: Filen er ferdig kryptert: " + container});

    prompter.log.clear();
    Edit(w, "txtEncryptedFile")->setText(container);
    Edit(w, "txtDecryptToFolder")->setText(out);
    Click(w, "btnDecrypt");
    QCOMPARE(prompter.log, (QStringList{"message: Filen er ferdig dekryptert", "openfolder: " + out}));
    QCOMPARE(ReadAll(out + "\\brød.txt"), content);
  }
};

QTEST_MAIN(WinGuiTest)
#include "WinGuiTest.moc"
