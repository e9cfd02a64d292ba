// The dialog interface's two pieces of machinery: line breaks for display, and questions asked
// from a worker thread answered on the user-interface thread.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <thread>

#include "platform/Error.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/BackgroundJob.h"
#include "ui/DesktopIdentity.h"
#include "ui/GuiThreadPrompter.h"
#include "ui/QtPrompter.h"
#include "ui/SelectFolderForm.h"

using kvelv::test::ScriptedPrompter;

namespace {

// Records the thread each call arrives on.
class ThreadRecorder final : public kvelv::Prompter {
 public:
  std::vector<QThread*> threads;
  bool throwOnMessage = false;
  void ShowMessage(const std::string&) override {
    threads.push_back(QThread::currentThread());
    if (throwOnMessage) throw kvelv::Error("avbrutt");
  }
  void ShowMessageBox(const std::string&, const std::string&) override {
    threads.push_back(QThread::currentThread());
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    threads.push_back(QThread::currentThread());
    return text == "ja?";
  }
};

// Looks, while each message waits for the user, whether the busy indication shows.
class BusyProbe final : public kvelv::Prompter {
 public:
  explicit BusyProbe(QWidget& owner) : owner_(owner) {}
  std::vector<bool> busyDuringMessage;
  void ShowMessage(const std::string&) override { Look(); }
  void ShowMessageBox(const std::string&, const std::string&) override { Look(); }
  bool AskYesNo(const std::string&, const std::string&) override {
    Look();
    return true;
  }

 private:
  void Look() {
    // A message runs an event loop: an armed indication would get its turn here.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    const auto* dialog = owner_.findChild<kvelv::ProgressDialog*>();
    busyDuringMessage.push_back(dialog != nullptr && dialog->isVisible());
  }
  QWidget& owner_;
};

}  // namespace

class PrompterTest : public QObject {
  Q_OBJECT

 private slots:
  void lineBreaksDisplayAsLineFeeds() {
    QCOMPARE(kvelv::DisplayText("Feil under dekryptering. Kontakt ORV\n\rFeilmelding: x"),
             QStringLiteral("Feil under dekryptering. Kontakt ORV\nFeilmelding: x"));
    QCOMPARE(kvelv::DisplayText("a\n\r\n\rb\r\nc"), QStringLiteral("a\n\nb\nc"));
    QCOMPARE(kvelv::DisplayText("Prøv på nytt"), QStringLiteral("Prøv på nytt"));
  }

  void workerQuestionsAreAnsweredOnTheGuiThread() {
    ThreadRecorder target;
    QObject context;
    kvelv::GuiThreadPrompter prompter(target, &context);
    bool yes = false, no = true;
    kvelv::RunInBackground(nullptr, [&] {
      prompter.ShowMessage("melding");
      prompter.ShowMessageBox("tekst", "tittel");
      yes = prompter.AskYesNo("ja?", "spørsmål");
      no = prompter.AskYesNo("nei?", "spørsmål");
    });
    QVERIFY(yes);
    QVERIFY(!no);
    QCOMPARE(target.threads.size(), std::size_t(4));
    for (QThread* thread : target.threads) QCOMPARE(thread, qApp->thread());

    // Called on the user-interface thread itself it answers directly.
    QVERIFY(prompter.AskYesNo("ja?", "spørsmål"));
  }

  void busyIndicationStepsAsideForEveryMessageAndEndsWithTheWork() {
    QWidget owner;
    kvelv::BusyIndicator busy(&owner, 0);  // no delay: it shows at the first chance it gets
    BusyProbe target(owner);
    kvelv::GuiThreadPrompter prompter(target, &owner, &busy);
    bool shownBetween = false;
    kvelv::RunInBackground(&busy, [&] {
      prompter.ShowMessage("første");
      // Work that goes on after an answer shows the indication again (bounded wait).
      for (int i = 0; i < 3000 && !shownBetween; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QMetaObject::invokeMethod(&owner, [&] { shownBetween = busy.IsShown(); },
                                  Qt::BlockingQueuedConnection);
      }
      prompter.AskYesNo("andre?", "spørsmål");
      prompter.ShowMessageBox("tredje", "tittel");
    });
    QVERIFY(shownBetween);
    QCOMPARE(target.busyDuringMessage, (std::vector<bool>{false, false, false}));
    QCoreApplication::processEvents();
    QVERIFY(!owner.findChild<kvelv::ProgressDialog*>());
  }

  void messageBoxIsAsWideAsItsCaptionAndEscapeAnswersNo() {
#ifdef Q_OS_WIN
    QSKIP("questions go to the system's message box here");
#endif
    kvelv::QtPrompter prompter;
    int width = 0;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      QVERIFY(box);
      width = box->width();
      QTest::keyClick(box, Qt::Key_Escape);
    });
    QVERIFY(!prompter.AskYesNo("Overskrive gamle filer?", "Filen(e) finnes fra før"));
    QVERIFY2(width >= kvelv::CaptionWidth(QStringLiteral("Filen(e) finnes fra før")),
             qPrintable(QString::number(width)));
  }

  void platformButtonsSpeakTheUsersLanguage() {
    kvelv::InstallQtTranslations(*qApp, QLocale(QLocale::English));
    QCOMPARE(QMessageBox(QMessageBox::NoIcon, "x", "y", QMessageBox::Yes).button(QMessageBox::Yes)->text(),
             QStringLiteral("&Yes"));
    if (!kvelv::InstallQtTranslations(*qApp, QLocale(QLocale::NorwegianBokmal, QLocale::Norway)))
      QSKIP("no Norwegian Qt translation here (qt6-translations-l10n)");
    QMessageBox box(QMessageBox::NoIcon, "x", "y", QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
    QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Nei"));
    kvelv::test::ScriptedPrompter scripted;
    kvelv::SelectFolderForm chooser(scripted, 0, false);
    QCOMPARE(chooser.findChild<QPushButton*>("btnOk")->text(), QStringLiteral("OK"));
    QCOMPARE(chooser.findChild<QPushButton*>("btnCancel")->text(), QStringLiteral("Avbryt"));
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) QCoreApplication::removeTranslator(translator);
  }

  void failuresCrossBackToTheCaller() {
    ThreadRecorder target;
    target.throwOnMessage = true;
    QObject context;
    kvelv::GuiThreadPrompter prompter(target, &context);
    QString caught;
    try {
      kvelv::RunInBackground(nullptr, [&] { prompter.ShowMessage("x"); });
    } catch (const kvelv::Error& e) {
      caught = QString::fromUtf8(e.what());
    }
    QCOMPARE(caught, QStringLiteral("avbrutt"));
  }
};

QTEST_MAIN(PrompterTest)
#include "PrompterTest.moc"
