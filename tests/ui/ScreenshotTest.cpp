// Renders the three windows offscreen. With KVELV_SCREENSHOT_DIR set the pictures are saved
// there (docs/screenshots holds the checked-in ones); otherwise they are only checked to render.
#include <QDir>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QTreeView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/ui/ScriptedPrompter.h"
#include "ui/Hoved.h"
#include "ui/PasswordDlg.h"
#include "ui/QtPrompter.h"
#include "ui/SelectFolderForm.h"

using kvelv::test::ScriptedPrompter;

class ScreenshotTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch_;
  QString target_;

  void Save(QWidget& window, const QString& name) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    const QPixmap picture = window.grab();
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), window.size() * picture.devicePixelRatio());
    QVERIFY(picture.save(QDir(target_).filePath(name + ".png")));
  }

 private slots:
  void initTestCase() {
    target_ = qEnvironmentVariable("KVELV_SCREENSHOT_DIR");
    if (target_.isEmpty()) target_ = scratch_.path();
    QVERIFY(QDir().mkpath(target_));
  }

  void passwordDialog() {
    kvelv::PasswordDlg dialog;
    dialog.txtPassword()->setText(QStringLiteral("hemmelig"));
    Save(dialog, QStringLiteral("password-dialog"));
  }

  void mainWindow() {
    ScriptedPrompter prompter;
    kvelv::Hoved window(prompter, QDir(scratch_.path()).filePath("kvelv.ini").toStdString(), {});
    const std::pair<const char*, const char*> texts[] = {
        {"txtEncryptedFile", "/home/per/Nedlastinger/rapport.pdf_2012.03.07.09.05.03.orvkvelv"},
        {"txtDecryptToFolder", "/home/per/Dokumenter"},
        {"txtFileToEncrypt", "/home/per/Dokumenter/rapport.pdf"},
        {"txtEncryptToFolder", "/home/per/Utgående"}};
    for (const auto& [name, text] : texts)
      window.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QString::fromUtf8(text));
    Save(window, QStringLiteral("main-window"));
  }

  void folderChooser() {
    ScriptedPrompter prompter;
    kvelv::SelectFolderForm form(prompter,
                                 kvelv::sfdoCreateDeleteButtons | kvelv::sfdoContextMenus |
                                     kvelv::sfdoCreateFolderIcon | kvelv::sfdoDeleteFolderIcon,
                                 true);
    form.setWindowTitle(QStringLiteral("Velg mappe for kryptert fil"));
    QSignalSpy loaded(form.Model(), &QFileSystemModel::directoryLoaded);
    form.SelectPath("/usr/share");
    form.show();
    // The tree reads folders in the background; give it the way down to the selection.
    for (int i = 0; i < 50 && !loaded.contains(QVariantList{QStringLiteral("/usr")}); ++i)
      loaded.wait(100);
    QTest::qWait(200);  // the delayed sort of the loaded folders
    Save(form, QStringLiteral("folder-chooser"));
  }
};

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
