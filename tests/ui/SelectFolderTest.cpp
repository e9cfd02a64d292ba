// The folder chooser: path shortening, layout, runs, folder creation and deletion to the trash.
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include "platform/Error.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/Hoved.h"
#include "ui/QtPrompter.h"
#include "ui/SelectFolderDialog.h"
#include "ui/SelectFolderForm.h"
#include "ui/ShortenPath.h"

using kvelv::SelectFolderDialog;
using kvelv::SelectFolderForm;
using kvelv::ShortenPath;
using kvelv::test::ScriptedPrompter;

namespace {

const kvelv::SelectFolderDialogOptions kMainWindowOptions =
    kvelv::sfdoCreateDeleteButtons | kvelv::sfdoContextMenus | kvelv::sfdoCreateFolderIcon |
    kvelv::sfdoDeleteFolderIcon;

// Every text the shortening tried, when nothing is ever narrow enough.
QStringList Chain(const std::string& path, char separator) {
  QStringList tried;
  const std::string last = ShortenPath(
      path,
      [&](const std::string& text) {
        tried << QString::fromStdString(text);
        return false;
      },
      separator);
  if (tried.isEmpty() || tried.last() != QString::fromStdString(last)) tried << "result differs";
  return tried;
}

std::string S(const QString& text) { return text.toStdString(); }

}  // namespace

class SelectFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void shorteningChainWithBackslashes() {
    QCOMPARE(Chain(R"(C:\Users\per\Documents\Arbeid)", '\\'),
             (QStringList{R"(C:\Users\per\Documents\Arbeid)", R"(C:\...\per\Documents\Arbeid)",
                          R"(C:\...\Documents\Arbeid)", R"(C:\...\Arbeid)", R"(...\Arbeid)",
                          "Arbeid"}));
  }

  void shorteningChainWithSlashes() {
    QCOMPARE(Chain("/home/per/Documents/Arbeid", '/'),
             (QStringList{"/home/per/Documents/Arbeid", "/.../per/Documents/Arbeid",
                          "/.../Documents/Arbeid", "/.../Arbeid", ".../Arbeid", "Arbeid"}));
    QCOMPARE(Chain("/", '/'), (QStringList{"/", ""}));
    QCOMPARE(Chain("Arbeid", '/'), QStringList{"Arbeid"});
  }

  void shorteningStopsAtTheFirstTextThatFits() {
    auto upTo = [](std::size_t n) { return [n](const std::string& t) { return t.size() <= n; }; };
    QCOMPARE(ShortenPath("/home/per/Documents/Arbeid", upTo(100)),
             std::string("/home/per/Documents/Arbeid"));
    QCOMPARE(ShortenPath("/home/per/Documents/Arbeid", upTo(22)), std::string("/.../Documents/Arbeid"));
    QCOMPARE(ShortenPath(R"(C:\a\b)", upTo(5), '\\'), std::string(R"(...\b)"));
  }

  void layoutAsDesignedAndOnResize() {
    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, true);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(358, 325));
    auto* newFolder = form.findChild<QToolButton*>("btnNewFolder");
    auto* del = form.findChild<QToolButton*>("btnDeleteFolder");
    auto* ok = form.findChild<QPushButton*>("btnOk");
    auto* cancel = form.findChild<QPushButton*>("btnCancel");
    auto* status = form.findChild<QLabel*>("StatusBar1");
    auto* panel = form.findChild<QWidget*>("ButtonPanel");
    QVERIFY(newFolder && del && ok && cancel && status && panel);
    QCOMPARE(newFolder->text(), QStringLiteral("Create Folder"));
    QCOMPARE(del->text(), QStringLiteral("Delete"));
    QVERIFY(!newFolder->icon().isNull() && !del->icon().isNull());
    QVERIFY(!ok->icon().isNull() && !cancel->icon().isNull());
    QVERIFY(ok->isDefault());
    QCOMPARE(form.ShellTree()->objectName(), QStringLiteral("ShellTree"));
    QCOMPARE(form.ShellTree()->geometry(), QRect(8, 32, 341, 241));
    QCOMPARE(panel->geometry(), QRect(0, 277, 358, 29));
    QCOMPARE(status->geometry(), QRect(0, 306, 358, 19));
    QCOMPARE(cancel->geometry(), QRect(358 - 8 - 75, 2, 75, 23));
    QCOMPARE(ok->geometry(), QRect(358 - 8 - 75 - 8 - 75, 2, 75, 23));

    form.resize(500, 420);
    QCOMPARE(form.ShellTree()->geometry(), QRect(8, 32, 483, 420 - 48 - 4 - 32));
    QCOMPARE(cancel->x(), 500 - 8 - 75);
    QCOMPARE(ok->x(), 500 - 8 - 75 - 8 - 75);
    form.resize(100, 100);
    QVERIFY(form.width() >= 358 && form.height() >= 313);

    SelectFolderForm plain(prompter, 0, false);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QVERIFY(!plain.findChild<QToolButton*>("btnNewFolder")->isVisible());
    QVERIFY(plain.findChild<QPushButton*>("btnOk")->icon().isNull());
    QCOMPARE(plain.ShellTree()->y(), 8);
  }

  void runSelectsTheStartFolderAndConfirms() {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    SelectFolderDialog chooser(prompter);
    QCOMPARE(chooser.FolderPath(), std::string());
    chooser.SetFolderPath(S(dir.path()) + "/");
    QString caption, status;
    bool deleteEnabled = false;
    chooser.SetRunHook([&](SelectFolderForm& form) {
      caption = form.windowTitle();
      status = form.findChild<QLabel*>("StatusBar1")->text();
      deleteEnabled = form.findChild<QToolButton*>("btnDeleteFolder")->isEnabled();
      return form.SelectedPath() == S(dir.path()) ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
    QVERIFY(chooser.Execute());
    QCOMPARE(caption, QStringLiteral("Browse for Folder"));
    QCOMPARE(chooser.FolderPath(), S(dir.path()));
    QVERIFY(!status.isEmpty());
    QVERIFY(dir.path().endsWith(status.section('/', -1)));
    QVERIFY(deleteEnabled);

    chooser.SetTitle("Velg mappe for kryptert fil");
    chooser.SetFolderPath(S(dir.filePath("finnes-ikke")));
    std::string startSelection;
    chooser.SetRunHook([&](SelectFolderForm& form) {
      caption = form.windowTitle();
      startSelection = form.SelectedPath();
      deleteEnabled = form.findChild<QToolButton*>("btnDeleteFolder")->isEnabled();
      return int(QDialog::Rejected);
    });
    QVERIFY(!chooser.Execute());
    QCOMPARE(caption, QStringLiteral("Velg mappe for kryptert fil"));
    QCOMPARE(startSelection, std::string("/"));  // unresolvable: the root
    QVERIFY(!deleteEnabled);                       // never the first node
    QCOMPARE(chooser.FolderPath(), S(dir.filePath("finnes-ikke")));
  }

  void placementIsRememberedAndRunsDoNotNest() {
    ScriptedPrompter prompter;
    SelectFolderDialog chooser(prompter);
    QSize seen;
    int runs = 0;
    QString nestedError;
    chooser.SetRunHook([&](SelectFolderForm& form) {
      seen = form.size();
      if (runs++ == 0) {
        form.resize(520, 430);
        try {
          chooser.Execute();
        } catch (const kvelv::Error& e) {
          nestedError = QString::fromUtf8(e.what());
        }
      }
      return int(QDialog::Rejected);
    });
    chooser.Execute();
    QCOMPARE(seen, QSize(358, 325));
    QCOMPARE(nestedError, QStringLiteral("TSelectFolderDialog already executing"));
    QCOMPARE(chooser.FormWidth(), 520);
    QCOMPARE(chooser.FormHeight(), 430);
    chooser.Execute();
    QCOMPARE(seen, QSize(520, 430));
  }

  void createFolderTakesTheFirstFreeName() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("New Folder"));
    QVERIFY(QDir(dir.path()).mkdir("New Folder (2)"));
    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, true);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SelectPath(S(dir.path()));
    // Enter presses the focused tool button, not the dialog's default OK.
    auto* create = form.findChild<QToolButton*>("btnNewFolder");
    create->setFocus();
    QTest::keyClick(create, Qt::Key_Return);
    QVERIFY(form.isVisible());
    QVERIFY(QFileInfo(dir.filePath("New Folder (3)")).isDir());
    QCOMPARE(form.SelectedPath(), S(dir.filePath("New Folder (3)")));
    QVERIFY(prompter.log.isEmpty());

    // The new node's name is open for editing in place; after the rename the list is sorted
    // again and the status line shows the new path.
    auto* editor = form.ShellTree()->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("New Folder (3)"));
    editor->setText("Arkiv");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(QFileInfo(dir.filePath("Arkiv")).isDir());
    const QModelIndex parent = form.Model()->index(dir.path());
    QTRY_COMPARE(form.Model()->index(0, 0, parent).data().toString(), QStringLiteral("Arkiv"));
    QTRY_VERIFY(form.findChild<QLabel*>("StatusBar1")->text().endsWith("/Arkiv"));
    QCOMPARE(form.SelectedPath(), S(dir.filePath("Arkiv")));
  }

  void longStartPathsOpenWhereTheyPoint() {
    // 300 and 400 bytes; the second has "ø" across byte 259, where the start path used to be cut.
    QTemporaryDir dir;
    std::string path300 = S(dir.path()) + "/";
    path300 += std::string(200 - path300.size(), 'a') + "/" + std::string(99, 'b');
    std::string path400 = S(dir.path()) + "/";
    path400 += std::string(257 - path400.size(), 'c') + "/\xC3\xB8" + std::string(140, 'd');
    QCOMPARE(path300.size(), std::size_t(300));
    QCOMPARE(path400.size(), std::size_t(400));
    QCOMPARE(path400.substr(258, 2), std::string("\xC3\xB8"));
    ScriptedPrompter prompter;
    SelectFolderDialog chooser(prompter);
    for (const std::string& path : {path300, path400}) {
      QVERIFY(QDir().mkpath(QString::fromStdString(path)));
      chooser.SetFolderPath(path + "/");
      std::string start;
      chooser.SetRunHook([&](SelectFolderForm& form) {
        start = form.SelectedPath();
        return int(QDialog::Accepted);
      });
      QVERIFY(chooser.Execute());
      QCOMPARE(start, path);
      QCOMPARE(chooser.FolderPath(), path);  // OK keeps it
    }
  }

  void aRefusedNameKeepsItsEditorAndEnterNeverPressesOk() {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, true);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SelectPath(S(dir.path()));
    form.CreateBtnClick();
    auto* editor = form.ShellTree()->findChild<QLineEdit*>();
    QVERIFY(editor);
    const QString tooLong(300, QLatin1Char('n'));
    editor->setText(tooLong);
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(prompter.log, QStringList{"warning: Unable to rename the folder 'New Folder' to '" + tooLong + "'\n\n" +
                                       QString::fromStdString(std::make_error_code(std::errc::filename_too_long).message())});
    QVERIFY(form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QCOMPARE(form.ShellTree()->findChild<QLineEdit*>(), editor);  // still editing, the name kept
    QCOMPARE(editor->text(), tooLong);
    QVERIFY(QFileInfo(dir.filePath("New Folder")).isDir());
    editor->setText("Arkiv");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(QFileInfo(dir.filePath("Arkiv")).isDir());
    QVERIFY(form.isVisible());
    QCOMPARE(prompter.log.size(), 1);
  }

  void createFolderFallsBackToFldrAndReportsWhenAllNamesAreTaken() {
    QTemporaryDir dir;
    QDir d(dir.path());
    QVERIFY(d.mkdir("New Folder"));
    for (int n = 2; n <= 50; ++n) QVERIFY(d.mkdir(QString("New Folder (%1)").arg(n)));
    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, false);
    form.SelectPath(S(dir.path()));
    form.CreateBtnClick();
    QVERIFY(QFileInfo(dir.filePath("fldr")).isDir());
    for (int n = 2; n <= 50; ++n) QVERIFY(d.mkdir(QString("fldr%1").arg(n)));
    form.SelectPath(S(dir.path()));
    form.CreateBtnClick();
    QCOMPARE(prompter.log, QStringList{"warning: Unable to create the folder 'New Folder'\n\n" +
                                       QString::fromStdString(std::make_error_code(std::errc::file_exists).message())});

    prompter.log.clear();
    form.SelectPath("/proc");
    form.CreateBtnClick();
    QCOMPARE(prompter.log.size(), 1);
    QVERIFY(prompter.log[0].startsWith("warning: Unable to create the folder 'New Folder'\n\n"));
  }

  void deleteMovesToTheTrashMadeWhereItWasMissing() {
    QTemporaryDir dir;
    // No data folder yet; the trash lives on the test's own file system.
    const QString dataHome = dir.filePath("home/.local/share");
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    const QString current = QDir::currentPath();
    QVERIFY(QDir().mkdir(dir.filePath("start")));
    QVERIFY(QDir::setCurrent(dir.filePath("start")));
    const QString doomed = dir.filePath("gammel");
    QVERIFY(QDir().mkpath(doomed + "/under"));

    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, false);
    form.SelectPath(S(doomed));
    prompter.yesNoAnswers = {false, true};
    form.DeleteBtnClick();
    QVERIFY(QFileInfo(doomed).isDir());
    form.DeleteBtnClick();
    QVERIFY(!QFileInfo::exists(doomed));
    QCOMPARE(prompter.log, (QStringList{"yesno: Delete Folder | Move the folder '" + doomed + "' to the trash?",
                                        "yesno: Delete Folder | Move the folder '" + doomed + "' to the trash?"}));
    QVERIFY(QFileInfo(dataHome + "/Trash/files/gammel/under").isDir());
    QVERIFY(QFileInfo(dataHome + "/Trash/info/gammel.trashinfo").isFile());
    QCOMPARE(QDir(dir.filePath("start")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // The first node is never deleted, and nobody is asked about it.
    prompter.log.clear();
    form.SelectPath("/");
    form.DeleteBtnClick();
    QVERIFY(prompter.log.isEmpty());
    QVERIFY(QDir::setCurrent(current));
    qunsetenv("XDG_DATA_HOME");
  }

  void withoutATrashDeletingPermanentlyIsAskedFirst() {
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", "/proc/kvelv/share");  // can never be made
    const QString doomed = dir.filePath("gammel");
    QVERIFY(QDir().mkpath(doomed + "/under"));
    ScriptedPrompter prompter;
    SelectFolderForm form(prompter, kMainWindowOptions, false);
    form.SelectPath(S(doomed));
    prompter.yesNoAnswers = {true, false, true, true};
    form.DeleteBtnClick();
    QVERIFY(QFileInfo(doomed).isDir());
    form.DeleteBtnClick();
    QVERIFY(!QFileInfo::exists(doomed));
    const QString trash = "yesno: Delete Folder | Move the folder '" + doomed + "' to the trash?";
    const QString permanently = "yesno: Delete Folder | The folder '" + doomed +
                                "' cannot be moved to the trash.\n\nDelete it permanently?";
    QCOMPARE(prompter.log, (QStringList{trash, permanently, trash, permanently}));
    qunsetenv("XDG_DATA_HOME");
  }

  void mainWindowChooserCancelAndConfirm() {
    QTemporaryDir dir;
    kvelv::QtPrompter prompter;
    kvelv::Hoved window(prompter, S(dir.filePath("kvelv.ini")), {});
    auto* edit = window.findChild<QLineEdit*>("txtEncryptToFolder");
    edit->setText(dir.path());
    bool buttonsShown = false;
    std::string start;
    int answer = QDialog::Rejected;
    window.selectfolder().SetRunHook([&](SelectFolderForm& form) {
      buttonsShown = !form.findChild<QToolButton*>("btnNewFolder")->isHidden() &&
                     !form.findChild<QToolButton*>("btnDeleteFolder")->icon().isNull() &&
                     !form.findChild<QPushButton*>("btnOk")->icon().isNull();
      start = form.SelectedPath();
      QDir(dir.path()).mkdir("valgt");
      form.SelectPath(S(dir.filePath("valgt")));
      return answer;
    });
    window.btnEncryptToFolderClick();
    QCOMPARE(edit->text(), dir.path());  // cancelled: unchanged
    QVERIFY(buttonsShown);
    QCOMPARE(start, S(dir.path()));
    answer = QDialog::Accepted;
    window.btnEncryptToFolderClick();
    QCOMPARE(edit->text(), dir.filePath("valgt"));
  }
};

QTEST_MAIN(SelectFolderTest)
#include "SelectFolderTest.moc"
