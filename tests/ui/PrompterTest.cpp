// The dialog interface's two pieces of machinery: line breaks for display, and questions asked
// from a worker thread answered on the user-interface thread.
#include <QEventLoop>
#include <QThread>
#include <QtTest>
#include <thread>

#include "platform/Error.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/BackgroundJob.h"
#include "ui/GuiThreadPrompter.h"
#include "ui/QtPrompter.h"

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
