#include "app/launcher.h"
#include "app/translations.h"

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
    QString text;
    QStringList buttons; // "label:role", sorted
};

QString roleName(QMessageBox::ButtonRole role)
{
    switch (role) {
    case QMessageBox::AcceptRole:
        return QStringLiteral("accept");
    case QMessageBox::RejectRole:
        return QStringLiteral("reject");
    case QMessageBox::ActionRole:
        return QStringLiteral("action");
    default:
        return QString::number(role);
    }
}

QString buttonLabel(QMessageBox *box, QAbstractButton *button)
{
    switch (box->standardButton(button)) {
    case QMessageBox::Cancel:
        return QStringLiteral("Cancel");
    case QMessageBox::Close:
        return QStringLiteral("Close");
    case QMessageBox::NoButton:
        return button->text();
    default:
        return QStringLiteral("standard");
    }
}

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
        RecordedBox recorded { box->icon(), box->windowTitle(), box->text(), {} };
        QAbstractButton *answer = nullptr;
        const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            const QString label = buttonLabel(box, button);
            recorded.buttons << label + QLatin1Char(':') + roleName(box->buttonRole(button));
            if (label == wanted)
                answer = button;
        }
        recorded.buttons.sort();
        boxes << recorded;
        if (whileBoxOpen) {
            auto action = std::move(whileBoxOpen);
            whileBoxOpen = nullptr;
            action();
        }
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
    QMetaObject::invokeMethod(worker, [] {}, Qt::BlockingQueuedConnection);
}

void fail(LauncherWorker *worker, int error)
{
    worker->setError(error);
    worker->setState(LauncherWorker::Failed);
}

const QString ServerErrorText = QStringLiteral(
        "Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet et que vos "
        "paramètres de connexion sont valides.");
const QString MandatoryText = QStringLiteral(
        "Une nouvelle version obligatoire est disponible. Pour des raisons de compatibilité avec les serveurs Nimbora, "
        "vous devez télécharger cette nouvelle version pour continuer.");
const QString OptionalText = QStringLiteral(
        "Une nouvelle version est disponible. Cette version n'est pas obligatoire mais conseillée, elle peut apporter "
        "de meilleures performances, une meilleure compatibilité ou de nouvelles fonctionnalités.");
const QString DownloadButton = QStringLiteral("Aller vers la page de téléchargement de Nimbora");

} // namespace

Q_DECLARE_METATYPE(QMessageBox::Icon)

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void look();
    void progressBar_data();
    void progressBar();
    void errorBox_data();
    void errorBox();
    void errorActions_data();
    void errorActions();
    void finishedOpensAuthentication();
    void optionalUpdateContinues_data();
    void optionalUpdateContinues();
    void optionalUpdateThenLaterFailure();

private:
    RecordingLauncher *launcher = nullptr;
    TestHttpServer silentServer;
};

void TestLauncher::init()
{
    // The real checks run behind the launcher: they wait on a main server of the test's own
    // that never answers, so the worker stays Running and nothing leaves this machine.
    if (!silentServer.isListening()) {
        QVERIFY(silentServer.start());
        silentServer.setBehaviour(TestHttpServer::Silent);
    }
    silentServer.useAsMainServer();
    launcher = new RecordingLauncher;
    launcher->show();
    QVERIFY(QTest::qWaitForWindowExposed(launcher));
    drainWorker(launcher->worker());
    QCOMPARE(launcher->worker()->state(), LauncherWorker::Running);
}

void TestLauncher::cleanup()
{
    delete launcher;
    launcher = nullptr;
}

void TestLauncher::look()
{
    QCOMPARE(launcher->objectName(), QStringLiteral("Launcher"));
    QCOMPARE(launcher->size(), QSize(375, 173));
    QCOMPARE(launcher->minimumSize(), QSize(375, 173));
    QCOMPARE(launcher->maximumSize(), QSize(375, 173));
    QVERIFY(launcher->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(launcher->windowFlags().testFlag(Qt::SplashScreen));
    QCOMPARE(launcher->pixmap().size(), QSize(375, 173));
    QVERIFY(!launcher->windowIcon().isNull());

    auto *frame = launcher->findChild<QFrame *>(QStringLiteral("progressFrame"));
    QVERIFY(frame);
    QCOMPARE(frame->height(), 4);
    QCOMPARE(frame->geometry().bottom(), launcher->height() - 1);
}

void TestLauncher::progressBar_data()
{
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("width");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("40 of 375") << 40 << 150;
    QTest::newRow("33 truncates") << 33 << 123;
    QTest::newRow("full") << 100 << 375;
}

void TestLauncher::progressBar()
{
    QFETCH(int, progress);
    QFETCH(int, width);
    launcher->worker()->setProgress(quint8(progress));
    auto *bar = launcher->findChild<QLabel *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QCOMPARE(bar->width(), width);
    QCOMPARE(bar->height(), 4);
    QCOMPARE(bar->pos(), QPoint(0, 0));
}

void TestLauncher::errorBox_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("buttons");

    const QStringList retryOrClose { QStringLiteral("Close:reject"), QStringLiteral("Réessayer:action") };
    QTest::newRow("server") << int(LauncherWorker::ServerError) << QMessageBox::Critical
                            << "Impossible de contacter le serveur principal" << ServerErrorText
                            << QStringList { "Cancel:reject", "Diagnostique de connexion:accept", "Options:action",
                                             "Réessayer:action" };
    QTest::newRow("mandatory update")
            << int(LauncherWorker::MandatoryUpdateError) << QMessageBox::Critical
            << "Nouvelle version obligatoire disponible" << MandatoryText
            << QStringList { "Close:reject", DownloadButton + ":accept" };
    QTest::newRow("optional update") << int(LauncherWorker::OptionalUpdateError) << QMessageBox::Warning
                                     << "Nouvelle version disponible" << OptionalText
                                     << QStringList { DownloadButton + ":accept", "Plus tard:accept" };
    QTest::newRow("interface install")
            << int(LauncherWorker::InterfaceInstallError) << QMessageBox::Critical
            << "Impossible d'installer l'interface VPN"
            << "L'interface VPN n'a pas pu être installée. Vérifiez d'avoir les droits nécessaires." << retryOrClose;
    QTest::newRow("interface not found")
            << int(LauncherWorker::InterfaceNotFoundError) << QMessageBox::Critical
            << "Impossible de trouver l'interface VPN"
            << "L'interface VPN n'a pas pu être trouvée. Veuillez réinstaller Nimbora." << retryOrClose;
    const QString unknownText = QStringLiteral("Une erreur inconnue est survenue, veuillez vérifier votre installation");
    QTest::newRow("no error code") << int(LauncherWorker::NoError) << QMessageBox::Critical << "Erreur inconnue"
                                   << unknownText << retryOrClose;
    QTest::newRow("code above the table") << 6 << QMessageBox::Critical << "Erreur inconnue" << unknownText
                                          << retryOrClose;
}

void TestLauncher::errorBox()
{
    QFETCH(int, error);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, buttons);

    fail(launcher->worker(), error);
    QCOMPARE(launcher->boxes.size(), 1);
    const RecordedBox &box = launcher->boxes.first();
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    buttons.sort();
    QCOMPARE(box.buttons, buttons);
}

void TestLauncher::errorActions_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<bool>("checksRunAgain");

    const int server = LauncherWorker::ServerError;
    QTest::newRow("server: diagnostic") << server << "Diagnostique de connexion" << QStringList { "networkCheck" }
                                        << true;
    QTest::newRow("server: options on the connection page") << server << "Options" << QStringList { "options:1" }
                                                            << true;
    QTest::newRow("server: retry") << server << "Réessayer" << QStringList() << true;
    QTest::newRow("server: cancel") << server << "Cancel" << QStringList { "quit" } << false;
    QTest::newRow("server: box closed") << server << "" << QStringList { "quit" } << false;
    const int mandatory = LauncherWorker::MandatoryUpdateError;
    QTest::newRow("mandatory: download") << mandatory << DownloadButton << QStringList { "downloadPage", "quit" }
                                         << false;
    QTest::newRow("mandatory: close") << mandatory << "Close" << QStringList { "quit" } << false;
    for (int error : { int(LauncherWorker::InterfaceInstallError), int(LauncherWorker::InterfaceNotFoundError), 0 }) {
        QTest::addRow("error %d: retry", error) << error << "Réessayer" << QStringList() << true;
        QTest::addRow("error %d: close", error) << error << "Close" << QStringList { "quit" } << false;
    }
}

void TestLauncher::errorActions()
{
    QFETCH(int, error);
    QFETCH(QString, answer);
    QFETCH(QStringList, opened);
    QFETCH(bool, checksRunAgain);

    launcher->answers << answer;
    fail(launcher->worker(), error);
    drainWorker(launcher->worker());

    QCOMPARE(launcher->opened, opened);
    QCOMPARE(launcher->worker()->state(), checksRunAgain ? LauncherWorker::Running : LauncherWorker::Failed);
    if (checksRunAgain)
        QCOMPARE(launcher->worker()->error(), int(LauncherWorker::NoError));
}

void TestLauncher::finishedOpensAuthentication()
{
    launcher->worker()->setState(LauncherWorker::Finished);
    QCOMPARE(launcher->opened, QStringList { "authentication" });
    QVERIFY(!launcher->isVisible());
    QVERIFY(launcher->boxes.isEmpty());
}

// The checks go on behind the optional-update box; whatever they reach while it is open
// decides what follows it, and no button quits.
void TestLauncher::optionalUpdateContinues_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("outcome"); // what the checks reach while the box is open
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QString>("secondBox");

    QTest::newRow("later, then finished") << "Plus tard" << int(LauncherWorker::Finished)
                                          << QStringList { "authentication" } << "";
    QTest::newRow("download, then finished") << DownloadButton << int(LauncherWorker::Finished)
                                             << QStringList { "authentication", "downloadPage" } << "";
    QTest::newRow("closed, then finished") << "" << int(LauncherWorker::Finished)
                                           << QStringList { "authentication" } << "";
    QTest::newRow("later, then no adapter") << "Plus tard" << int(LauncherWorker::InterfaceNotFoundError)
                                            << QStringList { "quit" } << "Impossible de trouver l'interface VPN";
}

void TestLauncher::optionalUpdateContinues()
{
    QFETCH(QString, answer);
    QFETCH(int, outcome);
    QFETCH(QStringList, opened);
    QFETCH(QString, secondBox);

    LauncherWorker *worker = launcher->worker();
    launcher->answers << answer << "Close";
    launcher->whileBoxOpen = [worker, outcome] {
        if (outcome == LauncherWorker::Finished)
            worker->setState(LauncherWorker::Finished);
        else
            worker->setError(outcome); // already Failed: no new signal
    };
    fail(worker, LauncherWorker::OptionalUpdateError);

    QCOMPARE(launcher->opened, opened);
    QCOMPARE(launcher->boxes.size(), secondBox.isEmpty() ? 1 : 2);
    if (!secondBox.isEmpty())
        QCOMPARE(launcher->boxes.last().title, secondBox);
}

// The box is gone before the checks end; their later failure sends no signal of its own.
void TestLauncher::optionalUpdateThenLaterFailure()
{
    LauncherWorker *worker = launcher->worker();
    QSemaphore checksMayEnd;
    launcher->answers << "Plus tard" << "Close";
    launcher->whileBoxOpen = [worker, &checksMayEnd] {
        QMetaObject::invokeMethod(
                worker,
                [worker, &checksMayEnd] {
                    checksMayEnd.acquire();
                    worker->setError(LauncherWorker::InterfaceNotFoundError);
                },
                Qt::QueuedConnection);
    };
    fail(worker, LauncherWorker::OptionalUpdateError);
    QCOMPARE(launcher->boxes.size(), 1);

    checksMayEnd.release();
    QTRY_COMPARE(launcher->boxes.size(), 2);
    QCOMPARE(launcher->boxes.last().title, QStringLiteral("Impossible de trouver l'interface VPN"));
    QCOMPARE(launcher->opened, QStringList { "quit" });
}

NIMBORA_TEST_MAIN(TestLauncher, QApplication)
#include "tst_launcher.moc"
