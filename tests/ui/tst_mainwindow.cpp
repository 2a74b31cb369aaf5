#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "privileged/statedirectory.h"
#include "ui/authentication.h"
#include "ui/mainwindow.h"
#include "ui/serverstreeitem.h"
#include "ui/serverstreemodel.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QTemporaryDir>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QMutex>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QTableView>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <atomic>
#include <memory>

using Entry = QHash<QString, QVariant>;

namespace {

QByteArray accountXml(int ports)
{
    return "<account><code>OK</code><username>alice</username><subscription>Gold</subscription>"
           "<bandwidth>0</bandwidth><ports>"
        + QByteArray::number(ports) + "</ports><premium>1</premium></account>";
}

// No tunnel has an address, so the refresh probes nothing.
QByteArray tunnelXml(int id, const char *name, int type, int protocols)
{
    return "<tunnel><id>" + QByteArray::number(id) + "</id><type>" + QByteArray::number(type) + "</type><name>" + name
        + "</name><hostname></hostname><address></address><protocols>" + QByteArray::number(protocols)
        + "</protocols><slots>10</slots><state>1</state></tunnel>";
}

QByteArray serversXml(bool premium, int t1Protocols = 7, int t3Protocols = 7)
{
    return "<servers><code>OK</code><premium>" + QByteArray(premium ? "1" : "0")
        + "</premium><server><id>1</id><name>Paris</name><state>1</state><bandwidth>10</bandwidth>"
          "<country><code>fr</code>"
        + tunnelXml(11, "t1", 0, t1Protocols) + tunnelXml(12, "t2", 2, 7) + tunnelXml(13, "t3", 0, t3Protocols)
        + "</country></server></servers>";
}

// "8080/TCP" as a mapping entry.
Entry mapping(const QString &text)
{
    const int port = text.section('/', 0, 0).toInt();
    return Entry { { "externalPort", port }, { "protocol", text.section('/', 1) }, { "internalPort", port },
        { "description", "d" + QString::number(port) }, { "externalIpAddress", "198.18.0.1" },
        { "internalClient", "10.8.0.2" } };
}

QList<Entry> mappings(const QStringList &texts)
{
    QList<Entry> entries;
    for (const QString &text : texts)
        entries << mapping(text);
    return entries;
}

QString iconName(QMessageBox::Icon icon)
{
    return QStringList { "none", "information", "warning", "critical", "question" }.value(icon);
}

// A connection work whose runs follow scripts instead of connecting: one list of steps per run
// ("progress N", "log TEXT", "connected", "stay" in the event loop until stopped, "error N",
// "openvpn N", "gateway 8080/TCP,..." for a table of the gateway, "tunnel" for the real wait for
// the tunnel, which ends the run unless the tunnel comes up unstopped, "hold" without an event
// loop until the test lets go, as in a teardown, "block" to leave traffic blocked after the run,
// "unblock" to lift a block, or "real" for the real run up to the main server's answer).
class ScriptedConnectionWork : public ConnectionWork
{
    Q_OBJECT

public:
    QList<QStringList> scripts;
    std::atomic<int> runs { 0 };
    std::atomic<bool> up { false };
    std::atomic<bool> waiting { false };
    std::atomic<bool> holding { false };
    std::atomic<bool> blockedByRun { false };
    std::atomic<bool> blockInPlace { false }; // on the machine, whoever put it there
    QSemaphore letGo;

    QStringList portCalls() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_portCalls;
    }
    void clearPortCalls()
    {
        const QMutexLocker locker(&m_mutex);
        m_portCalls.clear();
    }

public slots:
    void addPortMapping(quint16 externalPort, const QString &protocol, quint16 internalPort, const QString &description)
    {
        const QMutexLocker locker(&m_mutex);
        m_portCalls
            << QStringLiteral("add %1/%2 %3 %4").arg(externalPort).arg(protocol).arg(internalPort).arg(description);
    }
    void deletePortMapping(quint16 externalPort, const QString &protocol)
    {
        const QMutexLocker locker(&m_mutex);
        m_portCalls << QStringLiteral("delete %1/%2").arg(externalPort).arg(protocol);
    }

protected:
    void run() override
    {
        const QStringList script = scripts.value(runs++);
        blockedByRun = false;
        for (const QString &step : script) {
            const QString word = step.section(' ', 0, 0);
            const QString argument = step.section(' ', 1);
            if (word == "tunnel") {
                waiting = true;
                const bool tunnelUp = waitForTunnel();
                waiting = false;
                if (!tunnelUp)
                    break;
            } else if (word == "hold") {
                holding = true;
                // Bounded, so that a failing test ends.
                letGo.tryAcquire(1, 20000);
                holding = false;
            } else if (word == "gateway") {
                emit portMappingChanged(mappings(argument.split(',')));
            } else if (word == "progress") {
                setProgress(argument.toInt());
            } else if (word == "log") {
                emit log(argument);
            } else if (word == "connected") {
                up = true;
                emit connected();
            } else if (word == "stay") {
                exec();
            } else if (word == "error") {
                emit error(ConnectionWork::Error(argument.toInt()));
            } else if (word == "openvpn") {
                emit openvpnError(OpenVPN::Error(argument.toInt()));
            } else if (word == "block") {
                blockedByRun = true;
                blockInPlace = true;
            } else if (word == "unblock") {
                blockInPlace = false;
            } else if (word == "real") {
                ConnectionWork::run();
            }
        }
        up = false;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_portCalls; // written on the work's thread
};

// Stands for a freeze of the window on the connection work's thread: past its limit it drops
// the calls waiting for that thread, which lets a blocked window go on, and tells.
class FreezeWatchdog : public QThread
{
public:
    explicit FreezeWatchdog(QObject *work) : m_work(work) { start(); }
    ~FreezeWatchdog() override
    {
        m_done.release();
        wait();
    }
    bool fired() const { return m_fired; }

protected:
    void run() override
    {
        if (m_done.tryAcquire(1, 3000))
            return;
        m_fired = true;
        do {
            QCoreApplication::removePostedEvents(m_work, QEvent::MetaCall);
        } while (!m_done.tryAcquire(1, 100));
    }

private:
    QObject *m_work;
    QSemaphore m_done;
    std::atomic<bool> m_fired { false };
};

// A servers refresh whose latencies are measured until the test lets go.
class SlowServersRefreshWork : public ServersRefreshWork
{
public:
    QSemaphore latenciesIn;

protected:
    void run() override
    {
        ServersRefreshWork::run();
        latenciesIn.tryAcquire(1, 20000);
    }
};

// The English of one text only, the title of the box of a lost connection, in its own context.
class BoxTitleTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation, int) const override
    {
        if (qstrcmp(context, "MainWindow") == 0 && QString::fromUtf8(sourceText) == QStringLiteral("Déconnexion")
            && qstrcmp(disambiguation, "message box title") == 0)
            return QStringLiteral("Disconnected");
        return QString();
    }
};

// What the window asked and opened; kept by the test, since some flows end the window.
struct Record
{
    QStringList boxes; // "icon|title|text|buttons"
    QStringList answers; // per box, the label of the button to press; none closes the box
    QString choice; // answer to the item choice
    Entry newMapping; // what the add dialog gives
    QStringList opened;
    QString liftRefusal; // why a lift of the traffic block fails; none lifts it
};

class TestWindow : public MainWindow
{
public:
    TestWindow(ScriptedConnectionWork *work, Record *record, ServersRefreshWork *servers = nullptr)
        : MainWindow(Works { work, nullptr, servers }, nullptr), m_work(work), m_record(record)
    { }
    using MainWindow::trayIcon;

protected:
    bool isConnected() const override { return m_work->up; }
    bool runLeftTrafficBlocked() const override { return m_work->blockedByRun; }
    bool isTrafficBlockInPlace() const override { return m_work->blockInPlace; }
    bool liftTrafficBlock(QString *errorString) override
    {
        m_record->opened << QStringLiteral("lift");
        *errorString = m_record->liftRefusal;
        if (!errorString->isEmpty())
            return false;
        m_work->blockInPlace = false;
        return true;
    }

    QAbstractButton *execMessageBox(QMessageBox *box) override
    {
        const QString wanted = m_record->answers.isEmpty() ? QString() : m_record->answers.takeFirst();
        if (wanted == QLatin1String("shut down while open"))
            return shutDownWhileOpen(box);
        QAbstractButton *answer = nullptr;
        QStringList labels;
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            labels << button->text().remove('&');
            if (labels.last() == wanted)
                answer = button;
        }
        labels.sort();
        m_record->boxes
            << QStringList { iconName(box->icon()), box->windowTitle(), box->text(), labels.join(',') }.join('|');
        return answer;
    }
    // The box really open, and the system ending the program meanwhile; past a few seconds the box is closed here and
    // the test told.
    QAbstractButton *shutDownWhileOpen(QMessageBox *box)
    {
        QTimer::singleShot(0, this, &MainWindow::shutDown);
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, box, [this, box] {
            m_record->boxes << QStringLiteral("left open");
            box->done(QDialog::Rejected);
        });
        limit.start(3000);
        box->exec();
        return box->clickedButton();
    }
    QString execItemChoice(const QString &title, const QString &label, const QStringList &items, int current) override
    {
        m_record->boxes << QStringList { "choice", title, label, items.join(',') + " at " + items.value(current) }.join(
            '|');
        return m_record->choice;
    }
    void execProxyAuthentication(const QNetworkProxy &, QAuthenticator *) override { }
    void execTunnelSettings(int) override { }
    Entry execAddPortMapping() override { return m_record->newMapping; }
    void openOptions(int page) override { m_record->opened << QStringLiteral("options %1").arg(page); }
    void openAuthentication() override
    {
        m_record->opened << QStringLiteral("authentication");
        MainWindow::openAuthentication();
    }
    void openUrl(const QUrl &url) override { m_record->opened << url.toString(); }

private:
    ScriptedConnectionWork *m_work;
    Record *m_record;
};

const QString NoMorePorts = QStringLiteral("information|Plus de ports disponibles|Vous utilisez déjà tous les ports "
                                           "disponibles avec votre abonnement.|OK");
const QString Full = QStringLiteral("critical|Serveur plein|Le serveur que vous essayez de joindre est plein.|OK");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectionErrors_data();
    void connectionErrors();
    void connectionStates();
    void trafficBlock_data();
    void trafficBlock();
    void switchServer();
    void refusedChoices_data();
    void refusedChoices();
    void portMappings_data();
    void portMappings();
    void restoredPortMappings();
    void gatewayGoingAway_data();
    void gatewayGoingAway();
    void stopWhileConnecting_data();
    void stopWhileConnecting();
    void shutDownWithBoxOpen();
    void userConnectsDuringAutoConnectHold();
    void fastestFollowsProtocolBox();
    void quit_data();
    void quit();
    void logoutTeardown_data();
    void logoutTeardown();

private:
    bool startUp(const QList<QStringList> &scripts, ServersRefreshWork *servers = nullptr, bool blocked = false);
    bool connectTo(const QString &node);
    bool disconnectNow();
    void select(const QString &node);
    template <typename T>
    T *widget(const char *name) const
    {
        return m_window->findChild<T *>(name);
    }
    QStringList states() const;
    QStringList rows() const;
    bool idle() const;

    TestHttpServer m_server;
    QTemporaryDir m_stateFolder;
    Record m_record;
    QPointer<TestWindow> m_window;
    ScriptedConnectionWork *m_work = nullptr;
    int m_connectedReports = 0;
    BoxTitleTranslator m_translator;
};

void TestMainWindow::initTestCase()
{
    // Run as root the work changes the machine itself: its journal goes here, not to the machine's.
    QVERIFY(m_stateFolder.isValid());
    StateDirectory::setPath(m_stateFolder.path());
    QVERIFY(m_server.start());
    QCoreApplication::installTranslator(&m_translator);
}

void TestMainWindow::init()
{
    QSettings().clear();
    m_server.useAsMainServer();
    m_server.setBehaviour(TestHttpServer::Answer);
    m_server.setAnswer("account", accountXml(5));
    m_server.setAnswer("servers", serversXml(false));
    m_server.setAnswer("connection", "<nimbora><code>FULL</code></nimbora>");
    QSettings().setValue(SettingsKeys::MainWindowPreferedServer, "Paris/fr/t1");
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("main-window-session"));
    GlobalValues::remove(GlobalValues::ProxyAuthMethod);
    m_record = Record();
}

void TestMainWindow::cleanup()
{
    delete m_window;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<Authentication *>(window))
            delete window;
    }
}

// The window comes up as after a login: account, then the server list, then itself. A servers
// refresh work given here may still measure latencies; a block may stand from an earlier run.
bool TestMainWindow::startUp(const QList<QStringList> &scripts, ServersRefreshWork *servers, bool blocked)
{
    m_work = new ScriptedConnectionWork;
    m_work->scripts = scripts;
    m_work->blockInPlace = blocked;
    m_connectedReports = 0;
    connect(m_work, &ConnectionWork::connected, this, [this] { ++m_connectedReports; });
    m_window = new TestWindow(m_work, &m_record, servers);
    m_window->show();
    return QTest::qWaitFor(
        [this, servers]() {
            return m_window->isVisible() && (servers || widget<QPushButton>("serversRefreshPushButton")->isEnabled());
        },
        20000);
}

void TestMainWindow::select(const QString &node)
{
    auto *view = widget<QTreeView>("serversTreeView");
    auto *model = static_cast<ServersTreeModel *>(view->model());
    view->setCurrentIndex(model->indexOf(model->findByName(node)));
}

bool TestMainWindow::connectTo(const QString &node)
{
    select(node);
    widget<QPushButton>("connectionPushButton")->click();
    return QTest::qWaitFor([this]() { return m_work->up && !widget<QPushButton>("connectionPushButton")->isHidden(); });
}

bool TestMainWindow::disconnectNow()
{
    widget<QPushButton>("connectionPushButton")->click();
    return QTest::qWaitFor([this]() { return idle(); });
}

bool TestMainWindow::idle() const
{
    return !m_work->isRunning() && widget<QPushButton>("connectionPushButton")->isEnabled()
        && !widget<QPushButton>("connectionPushButton")->isHidden();
}

// The elements of the connection states, one "name state" each.
QStringList TestMainWindow::states() const
{
    QStringList states;
    for (const char *name : { "connectionPushButton", "connectionProgressBar", "optionsPushButton", "quitPushButton",
             "accountLogoutPushButton", "serversWidget", "portMappingDeletePushButton" }) {
        const QWidget *element = widget<QWidget>(name);
        states << QString(name) + (element->isHidden() ? " hidden" : element->isEnabled() ? " on" : " off");
    }
    states << widget<QPushButton>("connectionPushButton")->text();
    const QMenu *menu = m_window->findChild<QMenu *>();
    states << QString("menu ") + (menu->isEnabled() ? "on " : "off ") + menu->actions().first()->text();
    const QImage tray = m_window->trayIcon().icon().pixmap(32).toImage();
    for (const char *icon : { "icon_disconnected", "icon_connecting", "icon_connected" }) {
        if (tray == QIcon(QString(":/resources/%1.png").arg(icon)).pixmap(32).toImage())
            states << icon;
    }
    return states;
}

// "port/protocol state" per row of the port tab.
QStringList TestMainWindow::rows() const
{
    QStringList lines;
    const QAbstractItemModel *model = widget<QTableView>("portMappingTableView")->model();
    for (int row = 0; row < model->rowCount(); ++row)
        lines << model->index(row, 1).data().toString().section(':', 1) + '/' + model->index(row, 2).data().toString();
    return lines;
}

void TestMainWindow::connectionErrors_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("autoReconnect");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QStringList>("opened");

    const QStringList none;
    auto critical = [](const QString &title, const QString &text) {
        return QStringList { "critical|" + title + '|' + text + "|OK" };
    };
    const QStringList serverError { "critical|Impossible de contacter le serveur principal|Impossible de contacter "
                                    "le serveur principal. Vérifiez que vous êtes bien connecté à Internet et que vos "
                                    "paramètres de connexion sont valides.|Cancel,Modifier les paramètres de "
                                    "connexion" };
    const QStringList methodChoice { "choice|Méthode d'authentification du serveur proxy inconnue.|La méthode "
                                     "d'authentification du serveur proxy est inconnue.\nVeuillez en choisir une "
                                     ":|Aucune,Automatique,Basic,NTLM at Automatique" };

    // One row per way a failure is shown; the other codes' boxes differ from these by their texts alone.
    QTest::newRow("server error, options")
        << QStringList { "error 1" } << true << "Modifier les paramètres de connexion" << serverError << 1
        << QStringList { "options 1" };
    QTest::newRow("server error, cancel") << QStringList { "error 1" } << true << "Cancel" << serverError << 1 << none;
    QTest::newRow("denied logs out") << QStringList { "error 2" } << true << QString()
                                     << critical(
                                            "Session expirée", "Votre session a expirée, veuillez vous reconnecter.")
                                     << 1 << QStringList { "authentication" };
    QTest::newRow("full") << QStringList { "error 6" } << true << QString() << QStringList { Full } << 1 << none;
    QTest::newRow("socks port taken") << QStringList { "progress 80", "error 9" } << true << QString()
                                      << critical("Serveur SOCKS", "Le port du serveur SOCKS est déjà utilisé.") << 1
                                      << none;
    QTest::newRow("lost, reconnects") << QStringList { "connected", "error 10" } << true << QString() << none << 2
                                      << none;
    // The title has an English of its own, apart from the button's "Déconnexion".
    QTest::newRow("lost, no reconnection")
        << QStringList { "connected", "error 10" } << false << QString()
        << QStringList { "information|Disconnected|Vous avez été déconnecté du serveur.|OK" } << 1 << none;
    QTest::newRow("failed") << QStringList { "error 11" } << true << QString()
                            << QStringList { "information|Erreur inconnue|Une erreur inconnue est survenue.|OK" } << 1
                            << none;

    QTest::newRow("openvpn dns") << QStringList { "openvpn 1" } << true << QString()
                                 << critical("Erreur dns", "Impossible de résoudre le nom de domaine du serveur.") << 1
                                 << none;
    QTest::newRow("proxy method chosen") << QStringList { "openvpn 7" } << false << "Basic" << methodChoice << 2
                                         << none;
    QTest::newRow("proxy method cancelled")
        << QStringList { "openvpn 7" } << true << QString() << methodChoice << 1 << none;
}

// Each failure of a connection gives its box or its action, and the window ends disconnected.
void TestMainWindow::connectionErrors()
{
    QFETCH(QStringList, script);
    QFETCH(bool, autoReconnect);
    QFETCH(QString, answer);
    QFETCH(QStringList, boxes);
    QFETCH(int, runs);

    QSettings().setValue(SettingsKeys::AutoReconnect, autoReconnect);
    QSettings().setValue(SettingsKeys::AuthenticationAutoLogin, true);
    QVERIFY(startUp({ script }));
    m_record.answers << answer;
    m_record.choice = answer;
    widget<QPushButton>("connectionPushButton")->click();

    QTRY_VERIFY(m_window.isNull() || (m_work->runs == runs && idle()));
    QCOMPARE(m_record.boxes, boxes);
    QTEST(m_record.opened, "opened");
    QCOMPARE(GlobalValues::value(GlobalValues::ProxyAuthMethod).toString(), runs == 2 ? answer : QString());
    // Logging out leaves no main window behind and no automatic login.
    const bool loggedOut = m_record.opened.contains("authentication");
    QCOMPARE(m_window.isNull(), loggedOut);
    QCOMPARE(qApp->property("mainWindow").value<QObject *>() == nullptr, loggedOut);
    QCOMPARE(QSettings().value(SettingsKeys::AuthenticationAutoLogin).toBool(), !loggedOut);
}

// The widgets follow the connection through its four phases; log lines are shown as plain text.
void TestMainWindow::connectionStates()
{
    QVERIFY(startUp({ { "progress 30", "log <b>bold</b> & more", "stay", "connected", "stay" } }));
    widget<QPushButton>("connectionPushButton")->click();
    QTRY_COMPARE(widget<QTextEdit>("logTextEdit")->toPlainText(), QString("<b>bold</b> & more"));
    QCOMPARE(widget<QProgressBar>("connectionProgressBar")->value(), 30);
    QCOMPARE(states(),
        QStringList({ "connectionPushButton hidden", "connectionProgressBar on", "optionsPushButton hidden",
            "quitPushButton hidden", "accountLogoutPushButton off", "serversWidget off",
            "portMappingDeletePushButton off", "Connexion", "menu off Connexion...", "icon_connecting" }));

    m_work->exit(0);
    QTRY_COMPARE(widget<QPushButton>("connectionPushButton")->text(), QString("Déconnexion"));
    QCOMPARE(states(),
        QStringList({ "connectionPushButton on", "connectionProgressBar hidden", "optionsPushButton on",
            "quitPushButton on", "accountLogoutPushButton on", "serversWidget on", "portMappingDeletePushButton off",
            "Déconnexion", "menu on Déconnexion", "icon_connected" }));

    widget<QPushButton>("connectionPushButton")->click();
    QCOMPARE(states(),
        QStringList({ "connectionPushButton off", "connectionProgressBar hidden", "optionsPushButton hidden",
            "quitPushButton hidden", "accountLogoutPushButton on", "serversWidget on",
            "portMappingDeletePushButton off", "Patientez...", "menu off Déconnexion", "icon_connected" }));

    QTRY_VERIFY(idle());
    QCOMPARE(states(),
        QStringList({ "connectionPushButton on", "connectionProgressBar hidden", "optionsPushButton on",
            "quitPushButton on", "accountLogoutPushButton on", "serversWidget on", "portMappingDeletePushButton off",
            "Connexion", "menu on Connexion", "icon_disconnected" }));
    QCOMPARE(int(m_work->runs), 1);
}

void TestMainWindow::trafficBlock_data()
{
    QTest::addColumn<bool>("blockedAtStart");
    QTest::addColumn<QList<QStringList>>("scripts");
    QTest::addColumn<QStringList>("steps"); // "connect" until the run ends, "connect and stay", "unblock"
    QTest::addColumn<QString>("liftRefusal");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("opened");

    const QStringList none;
    const QString blocked = QStringLiteral("Traffic outside the tunnel is blocked");
    const QString lifted = QStringLiteral("Traffic block lifted");
    const QStringList dropped { "connected", "block" };
    QTest::newRow("kept after a drop") << false << QList<QStringList> { dropped } << QStringList { "connect" }
                                       << QString() << true << QStringList { blocked } << none << none;
    QTest::newRow("connected again") << false << QList<QStringList> { dropped, { "connected", "stay" } }
                                     << QStringList { "connect", "connect and stay" } << QString() << false << none
                                     << none << none;
    QTest::newRow("lifted") << false << QList<QStringList> { dropped } << QStringList { "connect", "unblock" }
                            << QString() << false << QStringList { blocked, lifted } << none << QStringList { "lift" };
    QTest::newRow("lift refused") << false << QList<QStringList> { dropped } << QStringList { "connect", "unblock" }
                                  << "Not authorized" << true << QStringList { blocked }
                                  << QStringList { "warning|Trafic bloqué|Le trafic n'a pas pu être débloqué : Not "
                                                   "authorized|OK" }
                                  << QStringList { "lift" };
    QTest::newRow("found at start") << true << QList<QStringList>() << none << QString() << true
                                    << QStringList { blocked } << none << none;
    QTest::newRow("found at start, a refused connection")
        << true << QList<QStringList> { { "error 6" } } << QStringList { "connect" } << QString() << true << none
        << QStringList { Full } << none;
    QTest::newRow("found at start, lifted by a run")
        << true << QList<QStringList> { { "unblock" } } << QStringList { "connect" } << QString() << false
        << QStringList { lifted } << none << none;
}

// Traffic blocked with no connection to carry it is shown until a connection carries it again or the block is
// lifted, whether a run left it or an earlier, killed one.
void TestMainWindow::trafficBlock()
{
    QFETCH(bool, blockedAtStart);
    QFETCH(QList<QStringList>, scripts);
    QFETCH(QStringList, steps);
    QFETCH(bool, shown);

    QFETCH(QString, liftRefusal);
    m_record.liftRefusal = liftRefusal;
    QVERIFY(startUp(scripts, nullptr, blockedAtStart));
    auto *button = widget<QPushButton>("connectionPushButton");
    for (const QString &step : steps) {
        if (step == "unblock") {
            QVERIFY(widget<QPushButton>("unblockPushButton")->isEnabled());
            widget<QPushButton>("unblockPushButton")->click();
            continue;
        }
        const int runs = m_work->runs;
        button->click();
        if (step == "connect and stay")
            QTRY_COMPARE(button->text(), QString("Déconnexion"));
        else
            QTRY_VERIFY(m_work->runs == runs + 1 && idle());
    }

    QCOMPARE(widget<QWidget>("blockedFrame")->isVisible(), shown);
    QCOMPARE(m_window->trayIcon().toolTip(), shown ? QString("Nimbora : trafic bloqué") : QString());
    QTEST(widget<QTextEdit>("logTextEdit")->toPlainText().split('\n', Qt::SkipEmptyParts), "log");
    QTEST(m_record.boxes, "boxes");
    QTEST(m_record.opened, "opened");
    // The window grows with the frame, whose text takes several lines: the frame lies between the tabs and the
    // connection button, over neither.
    const auto laidOut = [this] {
        const QRect frame = widget<QWidget>("blockedFrame")->geometry();
        const QRect below = widget<QWidget>("connectionFrame")->geometry();
        return widget<QWidget>("tabWidget")->geometry().bottom() < frame.top() && frame.bottom() < below.top()
            && below.bottom() < m_window->height();
    };
    QTRY_VERIFY(!shown || laidOut());
}

// Activating another tunnel while connected ends the connection and asks for the new one.
void TestMainWindow::switchServer()
{
    QVERIFY(startUp({ { "connected", "stay" }, { "real" } }));
    QVERIFY(connectTo("Paris/fr/t1"));
    select("Paris/fr/t3");
    auto *view = widget<QTreeView>("serversTreeView");
    emit view->activated(view->currentIndex());

    QTRY_VERIFY(m_work->runs == 2 && idle());
    QCOMPARE(m_record.boxes, QStringList { Full });
    QCOMPARE(m_server.requests().last().requestLine,
        QByteArray("GET /client/connection?session=main-window-session&server_id=13 HTTP/1.1"));
}

void TestMainWindow::refusedChoices_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<bool>("premium");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("runs");

    QTest::newRow("fastest never measured")
        << "fastest" << true
        << QStringList { "critical|Serveur automatique|Impossible de trouver un serveur automatiquement pour le "
                         "protocole choisi. Merci de sélectionner un serveur manuellement.|OK" }
        << 0;
    QTest::newRow("premium tunnel, free list")
        << "Paris/fr/t2" << false
        << QStringList { "critical|Serveur premium|Le serveur que vous essayez de joindre est réservé aux "
                         "utilisateurs ayants un abonnement actif. Vous pouvez gérer vos abonnements en cliquant sur "
                         "le bouton \"Gérer vos abonnements\" dans l'onglet \"Compte\".|OK" }
        << 0;
    QTest::newRow("premium tunnel, premium list") << "Paris/fr/t2" << true << QStringList() << 1;
}

void TestMainWindow::refusedChoices()
{
    QFETCH(QString, node);
    QFETCH(bool, premium);

    m_server.setAnswer("servers", serversXml(premium));
    QVERIFY(startUp({}));
    select(node);
    widget<QPushButton>("connectionPushButton")->click();
    QTRY_VERIFY(idle());
    QTEST(int(m_work->runs), "runs");
    QTEST(m_record.boxes, "boxes");
}

void TestMainWindow::portMappings_data()
{
    QTest::addColumn<int>("ports");
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("gateway"); // the gateway's table, reported once connected
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("rows");

    const QStringList none;
    const QStringList two { "8080/TCP", "8081/TCP" };
    const QStringList restoredTwo { "add 8080/TCP 8080 d8080", "add 8081/TCP 8081 d8081" };
    QStringList twelve;
    for (int port = 8080; port < 8092; ++port)
        twelve << QString::number(port) + "/TCP";
    QTest::newRow("add beyond the ports") << 2 << two << false << none << "portMappingAddPushButton"
                                          << "9090/TCP" << QStringList { NoMorePorts } << none << two;
    QTest::newRow("retry beyond the ports") << 2 << two << true << none << "portMappingRetryPushButton" << QString()
                                            << QStringList { NoMorePorts } << restoredTwo << two;
    QTest::newRow("existing port")
        << 5 << QStringList { "8080/TCP" } << false << none << "portMappingAddPushButton"
        << "8080/TCP" << QStringList { "information|Port existant|Vous avez déjà ajouté ce port à votre liste.|OK" }
        << none << QStringList { "8080/TCP" };
    QTest::newRow("add while connected") << 5 << QStringList { "8080/TCP" } << true << QStringList { "9000/UDP" }
                                         << "portMappingAddPushButton"
                                         << "9090/UDP" << none
                                         << QStringList { "add 8080/TCP 8080 d8080", "add 9090/UDP 9090 d9090" }
                                         << QStringList { "9000/UDP", "8080/TCP", "9090/UDP" };
    QTest::newRow("retry a failed one while connected")
        << 5 << QStringList { "8080/TCP" } << true << QStringList { "9000/UDP" } << "portMappingRetryPushButton"
        << QString() << none << QStringList { "add 8080/TCP 8080 d8080", "add 8080/TCP 8080 d8080" }
        << QStringList { "9000/UDP", "8080/TCP" };
    QTest::newRow("delete a mapped one while connected")
        << 5 << QStringList { "8080/TCP" } << true << QStringList { "8080/TCP" } << "portMappingDeletePushButton"
        << QString() << none << QStringList { "add 8080/TCP 8080 d8080", "delete 8080/TCP" } << none;
    QTest::newRow("twelve saved mappings keep their order")
        << 12 << twelve << false << none << "portMappingAddPushButton"
        << "9090/TCP" << QStringList { NoMorePorts } << none << twelve;
}

// The last row is current when the button is pressed.
void TestMainWindow::portMappings()
{
    QFETCH(int, ports);
    QFETCH(QStringList, saved);
    QFETCH(bool, connected);
    QFETCH(QStringList, gateway);
    QFETCH(QString, button);
    QFETCH(QString, entered);

    m_server.setAnswer("account", accountXml(ports));
    for (int i = 0; i < saved.size(); ++i)
        QSettings().setValue(QString("portMapping/entries/%1").arg(i), mapping(saved.at(i)));
    QVERIFY(startUp({ { "connected", "stay" } }));
    if (connected) {
        QVERIFY(connectTo("Paris/fr/t1"));
        emit m_work->portMappingChanged(mappings(gateway));
    }
    auto *table = widget<QTableView>("portMappingTableView");
    table->setCurrentIndex(table->model()->index(table->model()->rowCount() - 1, 0));
    if (!entered.isEmpty())
        m_record.newMapping = mapping(entered);
    auto *pressed = widget<QPushButton>(qPrintable(button));
    QVERIFY(pressed->isEnabled());
    pressed->click();

    QTEST(m_record.boxes, "boxes");
    QFETCH(QStringList, calls);
    QTRY_COMPARE(m_work->portCalls(), calls);
    QTEST(rows(), "rows");
}

// Once per connection the saved mappings are asked for again, no more than the ports allow.
void TestMainWindow::restoredPortMappings()
{
    m_server.setAnswer("account", accountXml(3));
    for (int i = 0; i < 3; ++i)
        QSettings().setValue(QString("portMapping/entries/%1").arg(i), mapping(QString("808%1/TCP").arg(i)));
    QVERIFY(startUp({ { "connected", "stay" }, { "connected", "stay" } }));

    QVERIFY(connectTo("Paris/fr/t1"));
    emit m_work->portMappingChanged(mappings({ "9000/UDP" }));
    emit m_work->portMappingChanged(mappings({ "9000/UDP", "8080/TCP" }));
    QTRY_COMPARE(m_work->portCalls(), QStringList({ "add 8080/TCP 8080 d8080", "add 8081/TCP 8081 d8081" }));
    QCOMPARE(m_record.boxes, QStringList { NoMorePorts });

    QVERIFY(disconnectNow());
    m_work->clearPortCalls();
    QVERIFY(connectTo("Paris/fr/t1"));
    emit m_work->portMappingChanged({});
    QTRY_COMPARE(m_work->portCalls(),
        QStringList({ "add 8080/TCP 8080 d8080", "add 8081/TCP 8081 d8081", "add 8082/TCP 8082 d8082" }));
    QCOMPARE(m_record.boxes.size(), 1);
}

void TestMainWindow::gatewayGoingAway_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("gateway"); // reported while connected
    QTest::addColumn<bool>("deleteRow");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("Delete during teardown") << QStringList { "connected", "stay", "hold" } << QStringList { "8080/TCP" }
                                            << true << QStringList { "add 8080/TCP 8080 d8080" } << QStringList();
    QTest::newRow("a report after the end") << QStringList { "connected", "stay", "gateway 9000/UDP", "hold" }
                                            << QStringList() << false << QStringList() << QStringList { "8080/TCP" };
}

// Once "Déconnexion" is pressed the work tears down without an event loop: the port tab waits
// for the end and never asks the work anything meanwhile.
void TestMainWindow::gatewayGoingAway()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, gateway);

    QSettings().setValue("portMapping/entries/0", mapping("8080/TCP"));
    QVERIFY(startUp({ script }));
    QVERIFY(connectTo("Paris/fr/t1"));
    if (!gateway.isEmpty()) {
        emit m_work->portMappingChanged(mappings(gateway));
        QTRY_COMPARE(m_work->portCalls().size(), 1);
    }
    auto *table = widget<QTableView>("portMappingTableView");
    table->setCurrentIndex(table->model()->index(0, 0));

    auto watchdog = std::make_unique<FreezeWatchdog>(m_work);
    widget<QPushButton>("connectionPushButton")->click();
    QTRY_VERIFY(m_work->holding);
    QStringList enabled;
    for (const char *name :
        { "portMappingAddPushButton", "portMappingDeletePushButton", "portMappingRetryPushButton" }) {
        if (widget<QPushButton>(name)->isEnabled())
            enabled << name;
    }
    QFETCH(bool, deleteRow);
    if (deleteRow)
        m_window->on_portMappingDeletePushButton_clicked();
    else
        QTRY_VERIFY(rows().contains("9000/UDP"));
    m_work->letGo.release();
    QVERIFY(!watchdog->fired());
    watchdog.reset();
    QCOMPARE(enabled, QStringList());
    QTRY_VERIFY(idle());
    QTEST(m_work->portCalls(), "calls");
    QTEST(rows(), "rows");
}

void TestMainWindow::stopWhileConnecting_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("stopWhileWaiting"); // else while the run is busy before the wait

    QTest::newRow("stop during the wait") << QStringList { "progress 20", "tunnel", "connected", "stay" } << true;
    QTest::newRow("shutDown while connecting") << QStringList { "hold", "tunnel", "connected", "stay" } << false;
}

// The system ends the program while a box holds the connection work: the box goes, and the program ends.
void TestMainWindow::shutDownWithBoxOpen()
{
    m_record.answers << "shut down while open";
    QVERIFY(startUp({ { "error 7" } }));
    widget<QPushButton>("connectionPushButton")->click();
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(m_record.boxes.filter("left open"), QStringList());
}

// The system ends the program while a connection comes up: the connection never comes up, and the
// program ends once the work has ended.
void TestMainWindow::stopWhileConnecting()
{
    QFETCH(QStringList, script);
    QFETCH(bool, stopWhileWaiting);

    QVERIFY(startUp({ script }));
    widget<QPushButton>("connectionPushButton")->click();
    if (stopWhileWaiting)
        QTRY_VERIFY(m_work->waiting);
    else
        QTRY_VERIFY(m_work->holding);
    m_window->shutDown();
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->trayIcon().isVisible());

    m_work->letGo.release();
    QTRY_VERIFY(m_work->waiting);
    QMetaObject::invokeMethod(
        m_work, [this] { m_work->openvpnConnected(QHostAddress(), {}); }, Qt::QueuedConnection);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(m_connectedReports, 0);
}

// A tunnel activated while the window holds for the first latencies is the one connected: the
// automatic connection, due when the latencies are in, neither disconnects it nor rewrites it.
void TestMainWindow::userConnectsDuringAutoConnectHold()
{
    QSettings().setValue(SettingsKeys::AutoConnect, true);
    auto *servers = new SlowServersRefreshWork;
    QVERIFY(startUp({ { "connected", "stay" } }, servers));
    QVERIFY(widget<QPushButton>("connectionPushButton")->isHidden());

    select("Paris/fr/t3");
    auto *view = widget<QTreeView>("serversTreeView");
    emit view->activated(view->currentIndex());
    QTRY_VERIFY(m_work->up && !widget<QPushButton>("connectionPushButton")->isHidden());
    servers->latenciesIn.release();
    QTRY_VERIFY(widget<QPushButton>("serversRefreshPushButton")->isEnabled());

    QCOMPARE(states(),
        QStringList({ "connectionPushButton on", "connectionProgressBar hidden", "optionsPushButton on",
            "quitPushButton on", "accountLogoutPushButton on", "serversWidget on", "portMappingDeletePushButton off",
            "Déconnexion", "menu on Déconnexion", "icon_connected" }));
    QVERIFY(m_work->up);
    QCOMPARE(int(m_work->runs), 1);
}

// A tunnel that offers OpenVPN only refills the box with it; "Le plus rapide" then connects to
// the fastest tunnel for OpenVPN, not to the one that was fastest for Http.
void TestMainWindow::fastestFollowsProtocolBox()
{
    m_server.setAnswer("servers", serversXml(true, ConnectionWork::HttpProtocol, ConnectionWork::OpenVpnProtocol));
    QSettings().setValue(SettingsKeys::MainWindowProtocol, int(ConnectionWork::HttpProtocol));
    QVERIFY(startUp({ { "real" } }));
    m_window->serversRefreshLatencyChanged("Paris/fr/t1", 10);
    m_window->serversRefreshLatencyChanged("Paris/fr/t3", 50);

    select("Paris/fr/t3");
    QCOMPARE(widget<QComboBox>("serversProtocolComboBox")->currentText(), QString("OpenVPN"));
    select("fastest");
    widget<QPushButton>("connectionPushButton")->click();
    QTRY_VERIFY(m_work->runs == 1 && idle());
    QCOMPARE(m_server.requests().last().requestLine,
        QByteArray("GET /client/connection?session=main-window-session&server_id=13 HTTP/1.1"));
}

void TestMainWindow::quit_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("refreshing");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("stays");

    QTest::newRow("cancel while connected") << true << false << "Cancel" << false << true;
    QTest::newRow("ok while connected") << true << false << "OK" << true << false;
    QTest::newRow("while a refresh runs") << false << true << QString() << true << false;
}

// Preferences are saved whatever the answer; the window goes at once and the program ends only
// when the last work has ended.
void TestMainWindow::quit()
{
    QFETCH(bool, connected);
    QFETCH(bool, refreshing);
    QFETCH(QString, answer);
    QFETCH(bool, stays);

    QSettings().setValue("portMapping/entries/0", mapping("8080/TCP"));
    QVERIFY(startUp({ { "connected", "stay" } }));
    select("Paris/fr/t3");
    if (connected)
        QVERIFY(connectTo("Paris/fr/t3"));
    if (refreshing) {
        m_server.setBehaviour(TestHttpServer::Silent);
        const int requests = m_server.requests().size();
        widget<QPushButton>("accountRefreshPushButton")->click();
        QTRY_COMPARE(m_server.requests().size(), requests + 1);
    }
    m_record.answers << answer;

    QTEST(m_window->terminate(), "result");
    QCOMPARE(m_record.boxes,
        connected ? QStringList { "question|Etes vous sûr ?|Vous êtes toujours connecté, souhaitez vous vraiment "
                                  "quitter Nimbora ?|Cancel,OK" }
                  : QStringList());
    QCOMPARE(m_window->isVisible(), stays);
    QCOMPARE(m_window->trayIcon().isVisible(), stays);
    QSettings settings;
    QCOMPARE(settings.value(SettingsKeys::MainWindowPreferedServer).toString(), QString("Paris/fr/t3"));
    QCOMPARE(settings.value(SettingsKeys::MainWindowProtocol).toInt(), int(ConnectionWork::OpenVpnProtocol));
    QCOMPARE(settings.value("portMapping/entries/0").toHash().value("externalPort").toInt(), 8080);

    if (stays) {
        QVERIFY(m_work->up);
        return;
    }
    QVERIFY(!m_window.isNull());
    if (refreshing) {
        const QByteArray body = accountXml(5);
        const QList<QTcpSocket *> held = m_server.findChildren<QTcpSocket *>();
        for (QTcpSocket *socket : held)
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
}

void TestMainWindow::logoutTeardown_data()
{
    QTest::addColumn<bool>("loggedInAgain");
    QTest::addColumn<QString>("quit");

    QTest::newRow("a new session begins") << true << "by the test";
    QTest::newRow("the login dialog is closed") << false << "by the program, after the teardown";
}

// After a logout the old window tears down behind the login dialog: it neither ends the session
// that follows nor lets the closing of the dialog end the program before the teardown has.
void TestMainWindow::logoutTeardown()
{
    QFETCH(bool, loggedInAgain);

    QVERIFY(startUp({ { "connected", "stay", "hold" } }));
    QVERIFY(connectTo("Paris/fr/t1"));
    m_record.answers << "OK";
    widget<QPushButton>("accountLogoutPushButton")->click();
    QTRY_VERIFY(m_work->holding);
    QPointer<QWidget> login;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<Authentication *>(window) && window->isVisible())
            login = window;
    }
    QVERIFY(login);

    // The program's own event loop, so that closing the last window may end it.
    QObject context;
    QScopedPointer<TestWindow> next;
    bool testQuits = false;
    QString quit;
    connect(qApp, &QCoreApplication::aboutToQuit, &context, [&] {
        quit = testQuits ? "by the test" : !m_window ? "by the program, after the teardown" : "by the program";
    });
    connect(m_window, &QObject::destroyed, &context, [&] {
        if (loggedInAgain) {
            QMetaObject::invokeMethod(
                &context,
                [&] {
                    testQuits = true;
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
    });
    QTimer::singleShot(0, &context, [&] {
        if (loggedInAgain)
            next.reset(new TestWindow(new ScriptedConnectionWork, &m_record));
        login->close();
        QTimer::singleShot(0, &context, [this] { m_work->letGo.release(); });
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &context, [&] {
        testQuits = true;
        QCoreApplication::quit();
    });
    guard.start(20000);
    qApp->exec();
    if (m_window)
        m_work->letGo.release();

    QTEST(quit, "quit");
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(QGuiApplication::quitOnLastWindowClosed(), !loggedInAgain);
}

NIMBORA_TEST_MAIN(TestMainWindow, QApplication)
#include "tst_mainwindow.moc"
