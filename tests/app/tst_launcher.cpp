#include "app/launcher.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>

#include <functional>

namespace {

struct RecordedBox
{
    QMessageBox::Icon icon;
    QString title;
    QStringList buttons; // "label:role", sorted
};

// Answers every box with the button whose label is queued in `answers` ("" closes the box
// without a button) and records which window the launcher would open.
class RecordingLauncher : public Launcher
{
public:
    QList<RecordedBox> boxes;
    QStringList answers;
    QStringList opened;
    std::function<void()> whileBoxOpen;

protected:
    QAbstractButton *execMessageBox(QMessageBox *box) override
    {
        RecordedBox recorded { box->icon(), box->windowTitle(), {} };
        QAbstractButton *answer = nullptr;
        const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            const QString label = button->text().remove(QLatin1Char('&'));
            const int role = box->buttonRole(button);
            recorded.buttons << label + ':' + QStringList { "accept", "reject", "destructive", "action" }.value(role);
            if (label == wanted)
                answer = button;
        }
        recorded.buttons.sort();
        boxes << recorded;
        if (whileBoxOpen)
            std::exchange(whileBoxOpen, nullptr)();
        return answer;
    }
    void openAuthentication() override { opened << QStringLiteral("authentication"); }
    void openNetworkCheck() override { opened << QStringLiteral("networkCheck"); }
    void openOptions(OptionsPage page) override { opened << QStringLiteral("options:%1").arg(page); }
    void openDownloadPage() override { opened << QStringLiteral("downloadPage"); }
    void quitApplication() override { opened << QStringLiteral("quit"); }
};

// Lets everything queued on the worker's thread run before going on.
void drainWorker(LauncherWorker *worker)
{
    QMetaObject::invokeMethod(
        worker, [] {}, Qt::BlockingQueuedConnection);
}

void fail(LauncherWorker *worker, int error)
{
    worker->setError(error);
    worker->setState(LauncherWorker::Failed);
}

const QString Download = QStringLiteral("Aller vers la page de téléchargement de Nimbora");

} // namespace

Q_DECLARE_METATYPE(QMessageBox::Icon)

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void progressBar();
    void errorBoxes_data();
    void errorBoxes();
    void finishedOpensAuthentication();
    void optionalUpdateContinues_data();
    void optionalUpdateContinues();
    void optionalUpdateThenLaterFailure();

private:
    RecordingLauncher *m_launcher = nullptr;
    TestHttpServer m_silentServer;
};

void TestLauncher::init()
{
    // The real checks run behind the launcher: they wait on a main server of the test's own
    // that never answers, so the worker stays Running and nothing leaves this machine.
    if (!m_silentServer.isListening()) {
        QVERIFY(m_silentServer.start());
        m_silentServer.setBehaviour(TestHttpServer::Silent);
    }
    m_silentServer.useAsMainServer();
    m_launcher = new RecordingLauncher;
    m_launcher->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_launcher));
    drainWorker(m_launcher->worker());
    QCOMPARE(m_launcher->worker()->state(), LauncherWorker::Running);
}

void TestLauncher::cleanup()
{
    delete m_launcher;
    m_launcher = nullptr;
}

// The bar follows the worker's progress across its frame.
void TestLauncher::progressBar()
{
    auto *frame = m_launcher->findChild<QFrame *>(QStringLiteral("progressFrame"));
    auto *bar = m_launcher->findChild<QLabel *>(QStringLiteral("progressBar"));
    QVERIFY(frame && bar);
    for (int progress : { 100, 0 }) {
        m_launcher->worker()->setProgress(quint8(progress));
        QCOMPARE(bar->width(), frame->width() * progress / 100);
    }
}

// Each failure's box, and where each of its answers leads. The optional update's box is
// answered in optionalUpdateContinues.
void TestLauncher::errorBoxes_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("buttons"); // "label:role"
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<bool>("checksRunAgain");

    const auto critical = QMessageBox::Critical;
    const int server = LauncherWorker::ServerError;
    const QString serverTitle = QStringLiteral("Impossible de contacter le serveur principal");
    const QStringList serverButtons { "Cancel:reject", "Diagnostique de connexion:accept", "Options:action",
        "Réessayer:action" };
    const int mandatory = LauncherWorker::MandatoryUpdateError;
    const QString mandatoryTitle = QStringLiteral("Nouvelle version obligatoire disponible");
    const QStringList mandatoryButtons { "Close:reject", Download + ":accept" };
    const QStringList retryOrClose { "Close:reject", "Réessayer:action" };
    const QStringList none;
    QTest::newRow("server: diagnostic") << server << critical << serverTitle << serverButtons
                                        << "Diagnostique de connexion" << QStringList { "networkCheck" } << true;
    QTest::newRow("server: options, connection page")
        << server << critical << serverTitle << serverButtons << "Options" << QStringList { "options:1" } << true;
    QTest::newRow("server: retry") << server << critical << serverTitle << serverButtons << "Réessayer" << none << true;
    QTest::newRow("server: box closed") << server << critical << serverTitle << serverButtons << ""
                                        << QStringList { "quit" } << false;
    QTest::newRow("mandatory: download") << mandatory << critical << mandatoryTitle << mandatoryButtons << Download
                                         << QStringList { "downloadPage", "quit" } << false;
    QTest::newRow("mandatory: close") << mandatory << critical << mandatoryTitle << mandatoryButtons << "Close"
                                      << QStringList { "quit" } << false;
    QTest::newRow("optional update") << int(LauncherWorker::OptionalUpdateError) << QMessageBox::Warning
                                     << "Nouvelle version disponible"
                                     << QStringList { Download + ":accept", "Plus tard:accept" } << "" << none << false;
    QTest::newRow("install: retry") << int(LauncherWorker::InterfaceInstallError) << critical
                                    << "Impossible d'installer l'interface VPN" << retryOrClose << "Réessayer" << none
                                    << true;
    QTest::newRow("not found: close") << int(LauncherWorker::InterfaceNotFoundError) << critical
                                      << "Impossible de trouver l'interface VPN" << retryOrClose << "Close"
                                      << QStringList { "quit" } << false;
    QTest::newRow("code above the table: retry")
        << 6 << critical << "Erreur inconnue" << retryOrClose << "Réessayer" << none << true;
}

void TestLauncher::errorBoxes()
{
    QFETCH(int, error);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QStringList, buttons);
    QFETCH(QString, answer);
    QFETCH(QStringList, opened);
    QFETCH(bool, checksRunAgain);

    m_launcher->answers << answer;
    fail(m_launcher->worker(), error);
    drainWorker(m_launcher->worker());

    QCOMPARE(m_launcher->boxes.size(), 1);
    QCOMPARE(m_launcher->boxes.first().icon, icon);
    QCOMPARE(m_launcher->boxes.first().title, title);
    buttons.sort();
    QCOMPARE(m_launcher->boxes.first().buttons, buttons);
    QCOMPARE(m_launcher->opened, opened);
    QCOMPARE(m_launcher->worker()->state(), checksRunAgain ? LauncherWorker::Running : LauncherWorker::Failed);
    if (checksRunAgain)
        QCOMPARE(m_launcher->worker()->error(), int(LauncherWorker::NoError));
}

void TestLauncher::finishedOpensAuthentication()
{
    m_launcher->worker()->setState(LauncherWorker::Finished);
    QCOMPARE(m_launcher->opened, QStringList { "authentication" });
    QVERIFY(!m_launcher->isVisible());
    QVERIFY(m_launcher->boxes.isEmpty());
}

// The checks go on behind the optional-update box; whatever they reach while it is open
// decides what follows it, and no button quits.
void TestLauncher::optionalUpdateContinues_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("outcome"); // what the checks reach while the box is open
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QString>("secondBox");

    const int finished = LauncherWorker::Finished;
    QTest::newRow("later, then finished") << "Plus tard" << finished << QStringList { "authentication" } << "";
    QTest::newRow("download, then finished")
        << Download << finished << QStringList { "authentication", "downloadPage" } << "";
    QTest::newRow("later, then no adapter") << "Plus tard" << int(LauncherWorker::InterfaceNotFoundError)
                                            << QStringList { "quit" } << "Impossible de trouver l'interface VPN";
}

void TestLauncher::optionalUpdateContinues()
{
    QFETCH(QString, answer);
    QFETCH(int, outcome);
    QFETCH(QStringList, opened);
    QFETCH(QString, secondBox);

    LauncherWorker *worker = m_launcher->worker();
    m_launcher->answers << answer << "Close";
    m_launcher->whileBoxOpen = [worker, outcome] {
        if (outcome == LauncherWorker::Finished)
            worker->setState(LauncherWorker::Finished);
        else
            worker->setError(outcome); // already Failed: no new signal
    };
    fail(worker, LauncherWorker::OptionalUpdateError);

    QCOMPARE(m_launcher->opened, opened);
    QCOMPARE(m_launcher->boxes.size(), secondBox.isEmpty() ? 1 : 2);
    QCOMPARE(m_launcher->boxes.last().title, secondBox.isEmpty() ? m_launcher->boxes.first().title : secondBox);
}

// The box is gone before the checks end; their later failure sends no signal of its own.
void TestLauncher::optionalUpdateThenLaterFailure()
{
    LauncherWorker *worker = m_launcher->worker();
    QSemaphore checksMayEnd;
    m_launcher->answers << "Plus tard"
                        << "Close";
    m_launcher->whileBoxOpen = [worker, &checksMayEnd] {
        QMetaObject::invokeMethod(
            worker,
            [worker, &checksMayEnd] {
                checksMayEnd.acquire();
                worker->setError(LauncherWorker::InterfaceNotFoundError);
            },
            Qt::QueuedConnection);
    };
    fail(worker, LauncherWorker::OptionalUpdateError);
    QCOMPARE(m_launcher->boxes.size(), 1);

    checksMayEnd.release();
    QTRY_COMPARE(m_launcher->boxes.size(), 2);
    QCOMPARE(m_launcher->boxes.last().title, QStringLiteral("Impossible de trouver l'interface VPN"));
    QCOMPARE(m_launcher->opened, QStringList { "quit" });
}

NIMBORA_TEST_MAIN(TestLauncher, QApplication)
#include "tst_launcher.moc"
