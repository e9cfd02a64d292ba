// The main window driven through its controls: checks and messages in order, the age question,
// the target path, the settings, the command line, anchors, and a real round trip.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "jobs/SettingsFile.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "tests/ui/ScriptedUiPrompter.h"
#include "ui/EncryptTarget.h"
#include "ui/BackgroundJob.h"
#include "ui/ProgressDialog.h"
#include "ui/Hoved.h"

using kvelv::Hoved;
using kvelv::Prompter;
using kvelv::test::ScriptedUiPrompter;

namespace {

// A folder that exists but where nobody, root included, can create a file.
const char* const kUnwritableFolder = "/proc";

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

void WriteText(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QByteArray ReadText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  int64_t t = 0;
  kvelv::platform::FromLocal({year, month, day, hour, minute, second}, t);
  return t;
}

struct JobCall {
  std::string password, source, target;
  bool interactive = false;
  bool onGuiThread = true;
};

// The window with a scripted prompter, a settings file in a temporary folder and recording jobs
// (or, with realJobs, the program's own).
struct Fixture {
  QTemporaryDir dir;
  ScriptedUiPrompter prompter;
  std::unique_ptr<Hoved> window;
  std::vector<JobCall> encryptCalls, decryptCalls;
  std::function<void(Prompter&)> duringJob;
  bool realJobs = false;

  QString Path(const QString& name) const { return dir.filePath(name); }
  QString Settings() const { return Path(QStringLiteral("kvelv.ini")); }

  Hoved& Make(std::vector<std::string> arguments = {}) {
    window = std::make_unique<Hoved>(prompter, S(Settings()), std::move(arguments));
    window->SetPassword(kvelv::platform::SecretBytes("hemmelig"));
    if (realJobs) return *window;
    auto record = [this](std::vector<JobCall>& calls) {
      return [this, &calls](const kvelv::platform::SecretBytes& pw, const std::string& src, const std::string& dst,
                            kvelv::JobMode mode, Prompter& p) {
        calls.push_back({std::string(pw.View()), src, dst, mode == kvelv::JobMode::Interactive,
                         QThread::currentThread() == qApp->thread()});
        if (duringJob) duringJob(p);
        return 0;
      };
    };
    window->SetJobs(record(encryptCalls), record(decryptCalls));
    return *window;
  }
  QLineEdit* Edit(const char* name) const {
    return window->findChild<QLineEdit*>(QString::fromLatin1(name));
  }
  QPushButton* Button(const char* name) const {
    return window->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  void Set(const char* edit, const QString& text) { Edit(edit)->setText(text); }
  void Click(const char* button) { QTest::mouseClick(Button(button), Qt::LeftButton); }
};

}  // namespace

class HovedTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsAsDesigned() {
    Fixture f;
    Hoved& w = f.Make();
    QCOMPARE(w.windowTitle(), QStringLiteral("Orv Kvelv"));
    QCOMPARE(w.size(), QSize(702, 198));
    QCOMPARE(w.font().pixelSize(), 11);
    struct Expect {
      const char* name;
      QRect geometry;
      const char* text;
    } const expected[] = {
        {"GroupBox2", {4, 6, 690, 78}, "Dekrypter"},
        {"txtEncryptedFile", {128, 17, 432, 21}, ""},
        {"txtDecryptToFolder", {128, 42, 432, 21}, ""},
        {"btnEncryptedFile", {563, 18, 30, 21}, "..."},
        {"btnDecryptToFolder", {563, 43, 30, 21}, "..."},
        {"btnDecrypt", {599, 30, 83, 25}, "Dekrypter fil"},
        {"GroupBox1", {4, 93, 690, 78}, "Krypter"},
        {"txtFileToEncrypt", {128, 20, 432, 21}, ""},
        {"txtEncryptToFolder", {128, 45, 432, 21}, ""},
        {"btnFileToEncrypt", {563, 20, 30, 21}, "..."},
        {"btnEncryptToFolder", {563, 47, 30, 21}, "..."},
        {"btnEncrypt", {599, 32, 83, 25}, "Krypter fil"},
    };
    for (const Expect& e : expected) {
      auto* widget = w.findChild<QWidget*>(QString::fromLatin1(e.name));
      QVERIFY2(widget, e.name);
      QCOMPARE(widget->geometry(), e.geometry);
      if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        QCOMPARE(box->title(), QString::fromUtf8(e.text));
        QVERIFY(box->font().bold());
      }
      if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), QString::fromUtf8(e.text));
        QVERIFY2(button->font().bold(), e.name);
      }
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) QVERIFY(!edit->font().bold());
    }
    const struct {
      const char* name;
      QPoint pos;
      const char* text;
    } labels[] = {{"Label4", {10, 22}, "Kryptert fil"},
                  {"Label3", {10, 45}, "Mappe for dekryptert fil"},
                  {"Label2", {10, 26}, "Fil som skal krypteres"},
                  {"Label1", {10, 49}, "Mappe for kryptert fil"}};
    for (const auto& l : labels) {
      auto* label = w.findChild<QLabel*>(QString::fromLatin1(l.name));
      QVERIFY(label);
      QCOMPARE(label->pos(), l.pos);
      QCOMPARE(label->text(), QString::fromUtf8(l.text));
      QVERIFY(!label->font().bold());
    }
  }

  void tabOrderStartsInTheEncryptGroup() {
    Fixture f;
    Hoved& w = f.Make();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), f.Button("btnEncrypt"));
    // The style draws the focus only after a keyboard focus change; from the start here.
    QVERIFY(w.testAttribute(Qt::WA_KeyboardFocusChange));
    const char* chain[] = {"btnEncrypt",        "txtEncryptToFolder", "txtFileToEncrypt",
                           "btnFileToEncrypt",  "btnEncryptToFolder", "chkStrongFormat", "btnDecrypt",
                           "txtDecryptToFolder", "txtEncryptedFile",  "btnEncryptedFile",
                           "btnDecryptToFolder", "btnEncrypt"};
    for (std::size_t i = 1; i < std::size(chain); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(chain[i]));
    }
  }

  void enterPressesTheFocusedButton() {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      Fixture f;
      Hoved& w = f.Make();
      w.show();
      QVERIFY(QTest::qWaitForWindowActive(&w));
      f.Button("btnDecrypt")->setFocus();
      QTest::keyClick(f.Button("btnDecrypt"), key);
      QCOMPARE(f.prompter.log, QStringList{"message: Filen finnes ikke! Velg ny fil."});
    }
  }

  void placementIsKeptOnTheScreen() {
    const QRect screen(0, 0, 1024, 768);
    const struct {
      QRect frame, fitted;
    } cases[] = {
        {{100, 50, 704, 223}, {100, 50, 704, 223}},   // on the screen: as stored
        {{3000, 50, 704, 223}, {320, 50, 704, 223}},  // off to the right
        {{-900, -40, 704, 223}, {0, 0, 704, 223}},    // off to the left and above
        {{10, 700, 704, 223}, {10, 545, 704, 223}},   // below
        {{0, 0, 2000, 900}, {0, 0, 1024, 768}},       // larger than the screen
    };
    for (const auto& c : cases) QCOMPARE(kvelv::FitOnScreen(c.frame, screen), c.fitted);

    Fixture f;
    WriteText(f.Settings(), "[Placement]\r\nLeft=3000\r\nTop=-500\r\n");
    Hoved& w = f.Make();
    QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w.frameGeometry()));
    w.resize(300, 120);  // labels would overlap the edits
    QCOMPARE(w.size(), QSize(420, 176));
  }

  void labelsHaveRoomWithTheFallbackFonts() {
    const QStringList labels{"Kryptert fil", "Mappe for dekryptert fil", "Fil som skal krypteres",
                             "Mappe for kryptert fil"};
    for (const char* family : {"Liberation Sans", "DejaVu Sans"}) {
      if (!QFontDatabase::families().contains(QString::fromLatin1(family))) continue;
      QFont font{QString::fromLatin1(family)};
      font.setPixelSize(11);
      const QFontMetrics metrics(kvelv::FitLabelFont(font, labels, 114));
      for (const QString& label : labels) QVERIFY2(metrics.horizontalAdvance(label) <= 114, family);
    }
    Fixture f;
    f.Make();
    for (const char* name : {"Label4", "Label3", "Label2", "Label1"})
      QVERIFY2(f.window->findChild<QLabel*>(name)->geometry().right() < 128 - 3, name);
    for (const char* name : {"btnDecrypt", "btnEncrypt"})
      QVERIFY2(f.Button(name)->fontMetrics().horizontalAdvance(f.Button(name)->text()) <= 83 - 10, name);
  }

  void anchorsFollowTheRightEdge() {
    Fixture f;
    Hoved& w = f.Make();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(902, 250);
    QCOMPARE(f.window->findChild<QGroupBox*>("GroupBox1")->geometry(), QRect(4, 93, 890, 78));
    QCOMPARE(f.window->findChild<QGroupBox*>("GroupBox2")->geometry(), QRect(4, 6, 890, 78));
    QCOMPARE(f.Edit("txtEncryptedFile")->geometry(), QRect(128, 17, 632, 21));
    QCOMPARE(f.Edit("txtEncryptToFolder")->geometry(), QRect(128, 45, 632, 21));
    QCOMPARE(f.Button("btnDecrypt")->geometry(), QRect(799, 30, 83, 25));
    QCOMPARE(f.Button("btnEncryptToFolder")->geometry(), QRect(763, 47, 30, 21));
    QCOMPARE(f.window->findChild<QLabel*>("Label1")->pos(), QPoint(10, 49));
    w.resize(652, 198);
    QCOMPARE(f.Edit("txtFileToEncrypt")->geometry(), QRect(128, 20, 382, 21));
    QCOMPARE(f.Button("btnEncrypt")->geometry(), QRect(549, 32, 83, 25));
  }

  void decryptChecksInOrder() {
    Fixture f;
    f.Make();
    const QString container = f.Path("pakke.orvkvelv");
    WriteText(container, "x");
    const QString out = f.Path("ut");
    QVERIFY(QDir().mkdir(out));

    f.Click("btnDecrypt");  // everything empty: the file is looked at first
    f.Set("txtEncryptedFile", f.dir.path());  // a folder is no file
    f.Click("btnDecrypt");
    f.Set("txtEncryptedFile", container);
    f.Set("txtDecryptToFolder", f.Path("mangler"));
    f.Click("btnDecrypt");
    f.Set("txtDecryptToFolder", container);  // a file is no folder
    f.Click("btnDecrypt");
    f.Set("txtDecryptToFolder", QString::fromLatin1(kUnwritableFolder));
    f.Click("btnDecrypt");
    QCOMPARE(f.prompter.log,
             (QStringList{"message: Filen finnes ikke! Velg ny fil.",
                          "message: Filen finnes ikke! Velg ny fil.",
                          "message: Mappe for å lagre dekryptert fil finnes ikke! Velg mappe.",
                          "message: Mappe for å lagre dekryptert fil finnes ikke! Velg mappe.",
                          "message: Har ikke skrivetilgang til valgt mappe! Velg mappe."}));
    QVERIFY(f.decryptCalls.empty());
    QCOMPARE(f.Edit("txtDecryptToFolder")->text(), QString::fromLatin1(kUnwritableFolder));

    f.prompter.log.clear();
    f.Set("txtDecryptToFolder", out);
    f.duringJob = [](Prompter& p) { p.ShowMessage("Filen er ferdig dekryptert"); };
    f.Click("btnDecrypt");
    QCOMPARE(f.decryptCalls.size(), std::size_t(1));
    const JobCall& call = f.decryptCalls[0];
    QCOMPARE(call.password, std::string("hemmelig"));
    QCOMPARE(Q(call.source), container);
    QCOMPARE(Q(call.target), out);
    QVERIFY(call.interactive);
    QVERIFY(!call.onGuiThread);
    QCOMPARE(f.prompter.log,
             (QStringList{"message: Filen er ferdig dekryptert", "openfolder: " + out}));
  }

  void decryptOpensTheFolderEvenWhenTheJobFails() {
    Fixture f;
    f.Make();
    const QString container = f.Path("pakke.orvkvelv");
    WriteText(container, "x");
    f.Set("txtEncryptedFile", container);
    f.Set("txtDecryptToFolder", f.dir.path());
    f.duringJob = [](Prompter&) { throw kvelv::Error("kaputt"); };
    f.Click("btnDecrypt");
    QCOMPARE(f.prompter.log, (QStringList{"openfolder: " + f.dir.path(), "error: kaputt"}));
    QVERIFY(f.Button("btnDecrypt")->isEnabled());
  }

  void encryptChecksInOrderWithTheAgeQuestion() {
    Fixture f;
    Hoved& w = f.Make();
    const int64_t now = LocalTime(2012, 3, 7, 9, 5, 3);
    w.SetClock([now] { return now; });
    const QString file = f.Path("rapport.pdf");
    WriteText(file, "innhold");

    f.Click("btnEncrypt");
    QCOMPARE(f.prompter.log, QStringList{"message: Filen finnes ikke! Velg fil."});

    // 61 minutes old: asked once the target folder passed its checks (a missing folder is
    // reported without a question); No ends the action.
    f.prompter.log.clear();
    QVERIFY(kvelv::platform::SetLastWriteTime(S(file), now - 61 * 60));
    f.Set("txtFileToEncrypt", file);
    f.Set("txtEncryptToFolder", f.Path("mangler"));
    f.Click("btnEncrypt");
    f.Set("txtEncryptToFolder", f.dir.path());
    f.prompter.confirmAnswers = {false};
    f.Click("btnEncrypt");
    QCOMPARE(f.prompter.log,
             (QStringList{"message: Mappe finnes ikke! Velg mappe.",
                          "confirm: Filen er gamlere enn en time, er det riktig fil?"}));
    QVERIFY(f.encryptCalls.empty());
    f.Set("txtEncryptToFolder", f.Path("mangler"));

    // 59 minutes old: no question.
    f.prompter.log.clear();
    QVERIFY(kvelv::platform::SetLastWriteTime(S(file), now - 59 * 60));
    f.Click("btnEncrypt");
    f.Set("txtEncryptToFolder", QString::fromLatin1(kUnwritableFolder));
    f.Click("btnEncrypt");
    QCOMPARE(f.prompter.log, (QStringList{"message: Mappe finnes ikke! Velg mappe.",
                                          "message: Har ikke skrivetilgang til valgt mappe! Velg mappe."}));
    QVERIFY(f.encryptCalls.empty());

    // A future date is not old either; the job gets the target named after the clock. Pasted
    // paths lose the blanks and the one pair of quotes around them, in the fields too.
    f.prompter.log.clear();
    QVERIFY(kvelv::platform::SetLastWriteTime(S(file), now + 3600));
    f.Set("txtFileToEncrypt", "  \"" + file + "\" \t");
    f.Set("txtEncryptToFolder", " '" + f.dir.path() + "/'");
    f.Click("btnEncrypt");
    QVERIFY(f.prompter.log.isEmpty());
    QCOMPARE(f.Edit("txtFileToEncrypt")->text(), file);
    QCOMPARE(f.Edit("txtEncryptToFolder")->text(), f.dir.path() + "/");
    QCOMPARE(f.encryptCalls.size(), std::size_t(1));
    QCOMPARE(Q(f.encryptCalls[0].source), file);
    QCOMPARE(Q(f.encryptCalls[0].target),
             f.dir.path() + "//rapport.pdf_2012.03.07.09.05.03.orvkvelv");
    QVERIFY(f.encryptCalls[0].interactive);
  }

  void targetPathExample() {
    QCOMPARE(kvelv::EncryptTargetPath("/ut", "/data/rapport.pdf", {2012, 3, 7, 9, 5, 3}),
             std::string("/ut/rapport.pdf_2012.03.07.09.05.03.orvkvelv"));
    QCOMPARE(kvelv::EncryptTargetPath("/", "rapport", {1999, 12, 31, 23, 59, 58}),
             std::string("//rapport_1999.12.31.23.59.58.orvkvelv"));
    QVERIFY(kvelv::IsOlderThanAnHour(0, 3601));
    QVERIFY(!kvelv::IsOlderThanAnHour(0, 3600));
    QVERIFY(!kvelv::IsOlderThanAnHour(7200, 0));
  }

  void noSecondActionWhileAJobRuns() {
    Fixture f;
    Hoved& w = f.Make();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString container = f.Path("pakke.orvkvelv");
    WriteText(container, "x");
    f.Set("txtEncryptedFile", container);
    f.Set("txtDecryptToFolder", f.dir.path());
    f.Set("txtFileToEncrypt", container);
    f.Set("txtEncryptToFolder", f.dir.path());
    bool buttonsEnabled = true, editable = true, closed = true, busyShown = false;
    f.duringJob = [&](Prompter&) {
      QMetaObject::invokeMethod(
          &w,
          [&] {
            buttonsEnabled = f.Button("btnEncrypt")->isEnabled() || f.Button("btnDecrypt")->isEnabled() ||
                             w.chkStrongFormat()->isEnabled();
            editable = !f.Edit("txtEncryptedFile")->isReadOnly();
            w.btnEncryptClick();
            closed = w.close();  // asks; unanswered is No
          },
          Qt::BlockingQueuedConnection);
      // Work longer than a second shows the progress dialog; wait for it (bounded).
      for (int i = 0; i < 600 && !busyShown; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QMetaObject::invokeMethod(&w, [&] { busyShown = w.Indicator() && w.Indicator()->IsShown(); },
                                  Qt::BlockingQueuedConnection);
      }
    };
    f.Click("btnDecrypt");
    QVERIFY(!buttonsEnabled);
    QVERIFY(!editable);
    QVERIFY(!closed);
    QCOMPARE(f.prompter.log.mid(0, 2),
             (QStringList{"question: Jobben er ikke ferdig. Vil du avbryte den og lukke programmet?", "unanswered"}));
    QVERIFY(busyShown);
    QVERIFY(f.encryptCalls.empty());
    QCOMPARE(f.decryptCalls.size(), std::size_t(1));
    QVERIFY(w.isVisible());
    QVERIFY(f.Button("btnEncrypt")->isEnabled());
    QVERIFY(!f.Edit("txtEncryptedFile")->isReadOnly());
    QVERIFY(!w.Indicator());
    QVERIFY(!w.findChild<kvelv::ProgressDialog*>());
  }

  void progressDialogShowsTheJobAndOnlyAsksItToStop() {
    kvelv::JobStatus status;
    kvelv::ProgressDialog d(status, nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    status.Report({300, 1000, "stor.bin"});
    QTRY_COMPARE(d.Bar()->value(), 300);
    QCOMPARE(d.FileLabel()->text(), QStringLiteral("stor.bin"));
    QCOMPARE(d.windowTitle(), QStringLiteral("30 % – Orv Kvelv"));
    QTest::keyClick(&d, Qt::Key_Return);  // an Enter meant for something else
    QVERIFY(!status.CancelRequested());
    // Escape, the close button and "Avbryt" only ask; the dialog stays until the job ended.
    for (const auto& ask : std::vector<std::function<void()>>{
             [&] { QTest::keyClick(&d, Qt::Key_Escape); }, [&] { d.close(); },
             [&] { QTest::mouseClick(d.CancelButton(), Qt::LeftButton); }}) {
      ask();
      QVERIFY(d.isVisible());
    }
    QVERIFY(status.CancelRequested());
    QCOMPARE(d.Caption()->text(), QStringLiteral("Avbryter ..."));
    d.Finish();
    QVERIFY(!d.isVisible());
  }

  void closingTheWindowDuringAJobAsksAndYesStopsItAndCloses() {
    Fixture f;
    Hoved& w = f.Make();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WriteText(f.Path("stor.bin"), "x");
    f.Set("txtFileToEncrypt", f.Path("stor.bin"));
    f.Set("txtEncryptToFolder", f.dir.path());
    f.prompter.questionAnswers = {true};
    bool stopped = false;
    f.duringJob = [&](Prompter& p) {
      QMetaObject::invokeMethod(&w, [&] { w.close(); }, Qt::QueuedConnection);
      for (int i = 0; i < 20000 && !stopped; ++i) {  // bounded
        stopped = p.CancelRequested();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    f.Click("btnEncrypt");
    QVERIFY(stopped);
    QTRY_VERIFY(!w.isVisible());
  }

  void fileButtonsStartInTheRightFolder() {
    Fixture f;
    f.Make();
    const QString current = Q(kvelv::platform::CurrentFolder());
    const QString sub = f.Path("under");
    QVERIFY(QDir().mkdir(sub));
    f.prompter.openFileAnswers = {std::nullopt, std::string("/valgt/fil.orvkvelv"), std::nullopt,
                                  std::string("/valgt/data.txt")};
    f.Click("btnEncryptedFile");  // empty edit, cancelled
    QCOMPARE(f.Edit("txtEncryptedFile")->text(), QString());
    f.Set("txtEncryptedFile", sub + "/gammel.orvkvelv");
    f.Click("btnEncryptedFile");
    QCOMPARE(f.Edit("txtEncryptedFile")->text(), QStringLiteral("/valgt/fil.orvkvelv"));
    f.Set("txtFileToEncrypt", f.Path("slettet/fil.txt"));  // its folder does not exist
    f.Click("btnFileToEncrypt");
    QCOMPARE(f.Edit("txtFileToEncrypt")->text(), f.Path("slettet/fil.txt"));
    f.Set("txtFileToEncrypt", f.Path("finnes-ikke.txt"));  // only its folder has to exist
    f.Click("btnFileToEncrypt");
    QCOMPARE(f.Edit("txtFileToEncrypt")->text(), QStringLiteral("/valgt/data.txt"));
    const QString decryptDialog =
        QStringLiteral("open: Velg fil som skal dekrypteres. | Orv kryptert (*.orvkvelv) | ");
    const QString encryptDialog = QStringLiteral("open: Velg fil som skal krypteres. | Alle filer (*) | ");
    QCOMPARE(f.prompter.log, (QStringList{decryptDialog + current, decryptDialog + sub,
                                          encryptDialog + current, encryptDialog + f.dir.path()}));
  }

  void folderButtonsUseTheChooser() {
    Fixture f;
    f.Make();
    const QString current = Q(kvelv::platform::CurrentFolder());
    f.prompter.folderAnswers = {std::nullopt, std::string("/valgt"), std::string("/annen"),
                                std::nullopt};
    f.Set("txtDecryptToFolder", f.dir.path() + "/");
    f.Click("btnDecryptToFolder");  // cancelled: unchanged
    QCOMPARE(f.Edit("txtDecryptToFolder")->text(), f.dir.path() + "/");
    f.Click("btnDecryptToFolder");
    QCOMPARE(f.Edit("txtDecryptToFolder")->text(), QStringLiteral("/valgt"));
    f.Set("txtEncryptToFolder", QStringLiteral("/"));
    f.Click("btnEncryptToFolder");
    QCOMPARE(f.Edit("txtEncryptToFolder")->text(), QStringLiteral("/annen"));
    f.Set("txtEncryptToFolder", f.Path("mangler"));
    f.Click("btnEncryptToFolder");
    QCOMPARE(f.prompter.log,
             (QStringList{"chooser: Velg mappe for dekryptert fil | " + f.dir.path() + "/",
                          "chooser: Velg mappe for dekryptert fil | " + f.dir.path() + "/",
                          "chooser: Velg mappe for kryptert fil | /",
                          "chooser: Velg mappe for kryptert fil | " + current + "/"}));
  }

  void settingsRoundTrip() {
    Fixture f;
    WriteText(f.Settings(),
              "[Placement]\r\nTop=50\r\nLeft=60\r\nWidth=0x2BC\r\nHeight=250\r\n"
              "[LastUsedPaths]\r\nFileToEncrypt=/a/fil.txt\r\nEncryptToFolder=/b\r\n"
              "EncryptedFile=/c/x.orvkvelv\r\nDecryptToFolder=\r\n");
    Hoved& w = f.Make();
    QCOMPARE(w.frameGeometry(), QRect(60, 50, 700, 250));
    QCOMPARE(f.Edit("txtFileToEncrypt")->text(), QStringLiteral("/a/fil.txt"));
    QCOMPARE(f.Edit("txtEncryptToFolder")->text(), QStringLiteral("/b"));
    QCOMPARE(f.Edit("txtEncryptedFile")->text(), QStringLiteral("/c/x.orvkvelv"));
    QCOMPARE(f.Edit("txtDecryptToFolder")->text(), QString());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    f.Set("txtDecryptToFolder", QStringLiteral("/ny/mappe"));
    f.Set("txtFileToEncrypt", QString());
    w.move(70, 80);
    QVERIFY(w.close());
    const QRect frame = w.frameGeometry();
    const kvelv::SettingsFile settings(S(f.Settings()));
    QCOMPARE(settings.ReadInteger("Placement", "Top", -1), frame.top());
    QCOMPARE(settings.ReadInteger("Placement", "Left", -1), frame.left());
    QCOMPARE(settings.ReadInteger("Placement", "Width", -1), frame.width());
    QCOMPARE(settings.ReadInteger("Placement", "Height", -1), frame.height());
    QCOMPARE(frame.topLeft(), QPoint(70, 80));
    QCOMPARE(settings.ReadString("LastUsedPaths", "FileToEncrypt", "?"), std::string());
    QCOMPARE(settings.ReadString("LastUsedPaths", "EncryptToFolder", "?"), std::string("/b"));
    QCOMPARE(settings.ReadString("LastUsedPaths", "EncryptedFile", "?"), std::string("/c/x.orvkvelv"));
    QCOMPARE(settings.ReadString("LastUsedPaths", "DecryptToFolder", "?"), std::string("/ny/mappe"));
    QVERIFY(f.prompter.log.isEmpty());
  }

  void missingOrBadSettingsKeepTheDesign() {
    Fixture f;
    WriteText(f.Settings(), "[Placement]\r\nWidth=bred\r\n");
    Hoved& w = f.Make();
    QCOMPARE(w.geometry(), QRect(0, 0, 702, 198));
    QVERIFY(QFile::remove(f.Settings()));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.close());
    const QByteArray written = ReadText(f.Settings());
    QVERIFY(written.contains("[Placement]"));
    QVERIFY(written.contains("[LastUsedPaths]"));
    QVERIFY(!written.contains("[Password]"));
  }

  void refusedSettingsWriteIsShownAndTheWindowCloses() {
    ScriptedUiPrompter prompter;
    Hoved w(prompter, "/proc/kvelv.ini", {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    QCOMPARE(prompter.log, QStringList{"error: Unable to write to /proc/kvelv.ini"});
  }

  void commandLineParameterIsDecryptedOnceAtFirstActivation() {
    Fixture f;
    const QString out = f.Path("ut");
    QVERIFY(QDir().mkdir(out));
    WriteText(f.Settings(), "[LastUsedPaths]\r\nDecryptToFolder=" + out.toUtf8() + "\r\n");
    const QString container = f.Path("pakke.orvkvelv");
    WriteText(container, "x");
    Hoved& w = f.Make({S(container)});
    QVERIFY(f.decryptCalls.empty());
    QVERIFY(!w.CommandLineHandled());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(f.decryptCalls.size(), std::size_t(1));
    QCOMPARE(Q(f.decryptCalls[0].source), container);
    QCOMPARE(Q(f.decryptCalls[0].target), out);
    QCOMPARE(f.Edit("txtEncryptedFile")->text(), container);
    QVERIFY(w.CommandLineHandled());
    w.FormActivate();
    QEvent activate(QEvent::WindowActivate);  // sendEvent does not take ownership
    QApplication::sendEvent(&w, &activate);
    QCOMPARE(f.decryptCalls.size(), std::size_t(1));
  }

  void commandLineWithAWrongPathOrTwoParameters() {
    Fixture wrong;
    wrong.Make({S(wrong.Path("finnes-ikke.orvkvelv"))});
    wrong.window->FormActivate();
    QCOMPARE(wrong.prompter.log, QStringList{"message: Filen finnes ikke! Velg ny fil."});

    Fixture two;
    const QString container = two.Path("pakke.orvkvelv");
    WriteText(container, "x");
    two.Make({S(container), "annen"});
    two.window->FormActivate();
    QVERIFY(two.prompter.log.isEmpty());
    QCOMPARE(two.Edit("txtEncryptedFile")->text(), QString());
    QVERIFY(two.window->CommandLineHandled());
  }

  // Off by default, remembered in the settings file, and when on the window writes the sealed
  // format, which its decrypt reads like the classic one.
  void strongFormatBoxChoosesTheSealedFormat() {
    Fixture f;
    f.realJobs = true;
    const QString source = f.Path("notat.txt");
    WriteText(source, "sterkt beskyttet\n");
    Hoved& w = f.Make();
    QCheckBox* box = w.chkStrongFormat();
    QCOMPARE(box->text(), QStringLiteral("Forsterket"));
    QVERIFY(!box->isChecked());
    QCOMPARE(box->parentWidget()->objectName(), QStringLiteral("GroupBox1"));
    box->setChecked(true);
    f.Set("txtFileToEncrypt", source);
    f.Set("txtEncryptToFolder", f.dir.path());
    f.Click("btnEncrypt");
    const QStringList containers = QDir(f.dir.path()).entryList({"*.orvkvelv"}, QDir::Files);
    QCOMPARE(containers.size(), 1);
    const QString container = f.Path(containers[0]);
    QVERIFY(ReadText(container).startsWith(QByteArray("\x89KVL\0\r\n\x1A", 8)));
    QVERIFY(QDir().mkdir(f.Path("ut")));
    f.Set("txtEncryptedFile", container);
    f.Set("txtDecryptToFolder", f.Path("ut"));
    f.Click("btnDecrypt");
    QCOMPARE(ReadText(f.Path("ut/notat.txt")), QByteArray("sterkt beskyttet\n"));
    QVERIFY(w.close());
    QCOMPARE(kvelv::SettingsFile(S(f.Settings())).ReadInteger("Encryption", "Format", -1), 2);
    QVERIFY(f.Make().chkStrongFormat()->isChecked());
  }

  void encryptThenDecryptThroughTheWindow() {
    Fixture f;
    f.realJobs = true;
    const QString source = f.Path("rapport.txt");
    const QByteArray content = "Årsrapport\n" + QByteArray(200000, 'x');
    WriteText(source, content);
    const QString encrypted = f.Path("kryptert");
    const QString out = f.Path("ut");
    QVERIFY(QDir().mkdir(encrypted));
    QVERIFY(QDir().mkdir(out));
    ScriptedUiPrompter& prompter = f.prompter;

    Hoved& w = f.Make();
    f.Set("txtFileToEncrypt", source);
    f.Set("txtEncryptToFolder", encrypted);
    f.Click("btnEncrypt");
    const QStringList containers = QDir(encrypted).entryList({"*.orvkvelv"}, QDir::Files);
    QCOMPARE(containers.size(), 1);
    const QString container = encrypted + "/" + containers[0];
    QCOMPARE(prompter.log, QStringList{"message: Filen er ferdig kryptert: " + container});
    QVERIFY(containers[0].startsWith("rapport.txt_"));

    prompter.log.clear();
    f.Set("txtEncryptedFile", container);
    f.Set("txtDecryptToFolder", out);
    f.Click("btnDecrypt");
    QCOMPARE(prompter.log, (QStringList{"message: Filen er ferdig dekryptert", "openfolder: " + out}));
    QCOMPARE(ReadText(out + "/rapport.txt"), content);

    // Again: the file exists now, so the job asks (through the window's thread) before overwriting.
    prompter.log.clear();
    prompter.yesNoAnswers = {true};
    f.Click("btnDecrypt");
    QCOMPARE(prompter.log,
             (QStringList{"yesno: Filen(e) finnes fra før | Overskrive gamle filer?",
                          "message: Filen er ferdig dekryptert", "openfolder: " + out}));

    // A wrong password is reported by the job, and the folder is still opened.
    prompter.log.clear();
    w.SetPassword(kvelv::platform::SecretBytes("feil"));
    f.Click("btnDecrypt");
    QCOMPARE(prompter.log.size(), 2);
    QVERIFY(prompter.log[0].startsWith("message: Feil under dekryptering. Kontakt ORV\n\rFeilmelding: "));
    QCOMPARE(prompter.log[1], "openfolder: " + out);
  }
};

QTEST_MAIN(HovedTest)
#include "HovedTest.moc"
