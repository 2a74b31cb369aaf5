#include "app/launcherworker.h"
#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/networkproxystream.h"
#include "tests/netconfig/fakenetworksystem.h"
#include "tests/support/commands.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>

namespace {

// Root runs the checks against real tun devices in a network namespace of the test's own;
// elsewhere the adapters come from a fake system.
const bool privateNetwork = PrivateNetwork::enter();

using States = QList<LauncherWorker::State>;
using Progress = QList<int>;
const LauncherWorker::State Running = LauncherWorker::Running;
const LauncherWorker::State Finished = LauncherWorker::Finished;
const LauncherWorker::State Failed = LauncherWorker::Failed;

QByteArray versionReply(const QByteArray &code, const QByteArray &optional, const QByteArray &mandatory)
{
    return "<?xml version=\"1.0\"?>\n<nimbora><code>" + code + "</code><optional>" + optional + "</optional><mandatory>"
        + mandatory + "</mandatory></nimbora>";
}

// What one run of the checks reports, in order.
struct Recorder
{
    States states;
    Progress progress;
    QList<int> errorsAtEnds; // the error when Failed or Finished is announced
    QList<int> errorsAtStarts; // the error when progress 0 is announced

    explicit Recorder(LauncherWorker *worker)
    {
        QObject::connect(worker, &LauncherWorker::stateChanged, worker, [this, worker](LauncherWorker::State state) {
            states << state;
            if (state == LauncherWorker::Failed || state == LauncherWorker::Finished)
                errorsAtEnds << worker->error();
        });
        QObject::connect(worker, &LauncherWorker::progressChanged, worker, [this, worker](quint8 value) {
            progress << int(value);
            if (value == 0)
                errorsAtStarts << worker->error();
        });
    }
};

} // namespace

class TestLauncherWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void versionComparison_data();
    void versionComparison();
    void migration_data();
    void migration();
    void run_data();
    void run();
    void runsAgain();
    void realAdapters_data();
    void realAdapters();

private:
    // This platform's VPN driver, installed for the loopback interface.
    NetworkSystem::DriverEntry ourDriver() const
    {
        return { LauncherWorker::driverName(), LauncherWorker::driverVersion(), m_loopback };
    }

    TestHttpServer m_server;
    QString m_loopback; // the loopback interface's name: "lo" on Linux, Windows has its own
};

void TestLauncherWorker::initTestCase()
{
    registerNetworkProxyMetaType();
    if (privateNetwork)
        QVERIFY(ip(QStringLiteral("link set lo up")));
    QVERIFY(m_server.start());
    for (const QNetworkInterface &networkInterface : QNetworkInterface::allInterfaces()) {
        if (networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack))
            m_loopback = networkInterface.name();
    }
    QVERIFY(QNetworkInterface::interfaceFromName(m_loopback).isValid());
}

void TestLauncherWorker::init()
{
    QSettings().clear();
    // Never the built-in main server: the test's own, on this machine.
    m_server.useAsMainServer();
    m_server.setAnswer("version", versionReply("OK", "1.6.7", "1.0"));
    GlobalValues::clear();
}

// Against the program's 1.6.7: up to four numeric parts, anything else counting as 0.
void TestLauncherWorker::versionComparison_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("newer");

    QTest::newRow("fourth part counts") << "1.6.7.1" << true;
    QTest::newRow("numbers, not text") << "1.6.10" << true;
    QTest::newRow("shorter") << "1.6" << false;
    QTest::newRow("same") << "1.6.7" << false;
    QTest::newRow("same with a zero fourth part") << "1.6.7.0" << false;
    QTest::newRow("the first difference decides") << "1.5.99" << false;
    QTest::newRow("fifth part ignored") << "1.6.7.0.1" << false;
    QTest::newRow("non-numeric part is 0") << "1.6.x" << false;
    QTest::newRow("suffix makes the part 0") << "1.6.8-rc1" << false;
    QTest::newRow("leading zeros are decimal") << "1.6.08" << true;
    QTest::newRow("beyond 64 bits is 0") << "99999999999999999999999" << false;
    QTest::newRow("64 bits") << "18446744073709551615" << true;
}

void TestLauncherWorker::versionComparison()
{
    QFETCH(QString, version);
    QFETCH(bool, newer);
    QCOMPARE(LauncherWorker::isNewerVersion(version, QStringLiteral("1.6.7")), newer);
}

void TestLauncherWorker::migration_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QVariantMap>("expected"); // every key of the store afterwards

    const QString mode = QStringLiteral("options/connection/proxyMode");
    const QString proxy = QStringLiteral("options/connection/proxy");
    const QString http = QStringLiteral("options/connection/httpProxy");
    const QString socks = QStringLiteral("options/connection/socksProxy");
    const QVariant httpProxy = QVariant::fromValue(QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 8080));
    const QVariant socksProxy = QVariant::fromValue(QNetworkProxy(QNetworkProxy::Socks5Proxy, "socks.example", 1085));
    QTest::newRow("proxyMode 2") << QVariantMap { { mode, 2 } } << QVariantMap { { proxy, "manual" } };
    QTest::newRow("proxyMode 1") << QVariantMap { { mode, 1 } } << QVariantMap { { proxy, "system" } };
    QTest::newRow("proxyMode 7") << QVariantMap { { mode, 7 } } << QVariantMap { { proxy, "none" } };
    const QVariantMap manual { { proxy, "manual" } };
    QTest::newRow("proxyMode as text") << QVariantMap { { mode, "system" }, { proxy, "manual" } } << manual;
    const QVariantMap autoConnect { { "options/general/autoConnect", true } };
    QVariantMap connectionMode = autoConnect;
    connectionMode.insert("options/connection/connectionMode", 3);
    QTest::newRow("connectionMode removed") << connectionMode << autoConnect;
    QTest::newRow("old proxies to host and port")
        << QVariantMap { { http, httpProxy }, { socks, socksProxy } }
        << QVariantMap { { http + "Host", "proxy.example" }, { http + "Port", 8080 },
               { socks + "Host", "socks.example" }, { socks + "Port", 1085 } };
    const QVariantMap kept { { http + "Host", "kept.example" } };
    QVariantMap notOne = kept;
    notOne.insert(http, "proxy.example:8080");
    QTest::newRow("old proxy that is not one") << notOne << kept;
}

void TestLauncherWorker::migration()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QVariantMap, expected);

    QSettings().clear();
    {
        QSettings settings;
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    LauncherWorker::migrateSettings();

    // Read back through a fresh store, as the next start would.
    QSettings settings;
    QStringList keys = settings.allKeys();
    keys.sort();
    QCOMPARE(keys, expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(settings.value(it.key()).toString(), it.value().toString());
}

// The checks' steps, each with its progress: 20 the version, 40 the adapters, 60 the choice
// of one, 100 finished.
void TestLauncherWorker::run_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("checkForUpdates");
    QTest::addColumn<bool>("adapter");
    QTest::addColumn<States>("states");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("lastProgress");

    const QByteArray upToDate = versionReply("OK", "1.6.7", "1.0");
    const QByteArray optional = versionReply("OK", "1.6.7.1", "1.0");
    const States finished { Running, Finished };
    const States failed { Running, Failed };
    QTest::newRow("up to date, adapter renamed") << upToDate << true << true << finished << 0 << 100;
    QTest::newRow("server refuses") << versionReply("FAILED", "1.6.7", "1.0") << true << true << failed << 1 << 20;
    QTest::newRow("mandatory update") << versionReply("OK", "1.6.7", "1.6.8") << true << true << failed << 2 << 20;
    QTest::newRow("mandatory before optional") << versionReply("OK", "1.8", "1.7") << true << true << failed << 2 << 20;
    QTest::newRow("optional update, then finished")
        << optional << true << true << States { Running, Failed, Finished } << 3 << 100;
    QTest::newRow("optional update not offered") << optional << false << true << finished << 0 << 100;
    QTest::newRow("optional update, no adapter: one Failed") << optional << true << false << failed << 5 << 40;
    QTest::newRow("no adapter") << upToDate << true << false << failed << 5 << 40;
    QTest::newRow("versions missing") << QByteArray("<r><code>OK</code></r>") << true << true << finished << 0 << 100;
}

void TestLauncherWorker::run()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, checkForUpdates);
    QFETCH(bool, adapter);
    QFETCH(States, states);
    QFETCH(int, error);
    QFETCH(int, lastProgress);

    // The loopback interface stands in for the VPN adapter: real, present, and never renamed
    // because the fake only records the rename.
    FakeNetworkSystem system(NetworkSystem::Linux);
    if (adapter)
        system.drivers = { { "veth", "1.0", "nimv0" }, ourDriver() };
    m_server.setAnswer("version", reply);
    QSettings().setValue(SettingsKeys::CheckForUpdates, checkForUpdates);

    LauncherWorker worker;
    Recorder recorder(&worker);
    worker.start();

    Progress progress { 0, 20, 40, 60, 100 };
    progress = progress.mid(0, progress.indexOf(lastProgress) + 1);
    QCOMPARE(recorder.states, states);
    QCOMPARE(recorder.progress, progress);
    QCOMPARE(worker.error(), error);
    QCOMPARE(worker.state(), states.last());
    QCOMPARE(worker.progress(), quint8(lastProgress));

    // A version request, kept apart from the ones before it by a random token.
    QVERIFY(!m_server.requests().isEmpty());
    const QByteArray requestLine = m_server.requests().last().requestLine;
    QVERIFY2(QRegularExpression(QStringLiteral("^GET /client/version\\?token=\\d{1,4} HTTP/1\\.1$"))
                 .match(QString::fromLatin1(requestLine))
                 .hasMatch(),
        requestLine.constData());

    // The program's fixed values are there whatever the outcome.
    for (const char *key : { GlobalValues::DefaultUserAgent, GlobalValues::DriverName, GlobalValues::DriverVersion,
             GlobalValues::InterfaceName, GlobalValues::CertificatPath, GlobalValues::OpenvpnPath })
        QVERIFY2(!GlobalValues::value(QString::fromLatin1(key)).toString().isEmpty(), key);
    QCOMPARE(QSettings().value(SettingsKeys::ApplicationVersion).toString(), QStringLiteral("1.6.7"));

    QCOMPARE(system.driverReads, lastProgress >= 40 ? 1 : 0);
    const bool renamed = states.last() == Finished;
    const int index = QNetworkInterface::interfaceFromName(m_loopback).index();
    QCOMPARE(system.calls, renamed ? QStringList(QStringLiteral("rename %1 Nimbora").arg(index)) : QStringList());
    // The fake renamed nothing: the guid is the adapter's name as it stands.
    QCOMPARE(GlobalValues::value(GlobalValues::Interface).toString(), renamed ? m_loopback : QString());
}

// Every run starts from the beginning: state, error and progress included. The stored proxy
// credentials are taken only when the user asked for it.
void TestLauncherWorker::runsAgain()
{
    FakeNetworkSystem system(NetworkSystem::Linux);
    QSettings settings;
    settings.setValue(SettingsKeys::ProxyUsername, QStringLiteral("proxyuser"));
    settings.setValue(SettingsKeys::ProxyPassword, QStringLiteral("proxypass"));
    LauncherWorker worker;
    Recorder recorder(&worker);
    worker.start();
    QCOMPARE(worker.error(), int(LauncherWorker::InterfaceNotFoundError));
    QVERIFY(!GlobalValues::contains(GlobalValues::ProxyUsername));

    settings.setValue(SettingsKeys::ProxyAutoAuth, true);
    system.drivers = { ourDriver() };
    m_server.setAnswer("version", versionReply("OK", "1.7", "1.0"));
    worker.start();
    worker.start();
    QSettings().setValue(SettingsKeys::MainServerAddress, QStringLiteral("127.0.0.1:1"));
    worker.start();

    QCOMPARE(recorder.states,
        (States { Running, Failed, Running, Failed, Finished, Running, Failed, Finished, Running, Failed }));
    QCOMPARE(recorder.errorsAtEnds, (QList<int> { 5, 3, 3, 3, 3, 1 }));
    QCOMPARE(recorder.errorsAtStarts, (QList<int> { 0, 0, 0, 0 }));
    QCOMPARE(recorder.progress, (Progress { 0, 20, 40, 0, 20, 40, 60, 100, 0, 20, 40, 60, 100, 0, 20 }));
    QCOMPARE(GlobalValues::value(GlobalValues::ProxyUsername).toString(), QStringLiteral("proxyuser"));
    QCOMPARE(GlobalValues::value(GlobalValues::ProxyPassword).toString(), QStringLiteral("proxypass"));
}

void TestLauncherWorker::realAdapters_data()
{
    QTest::addColumn<QStringList>("devices"); // tun devices, in creation order
    QTest::addColumn<QStringList>("afterwards"); // their names after the checks
    QTest::addColumn<int>("chosen"); // which one became "interface"

    const QStringList three { "nimtun0", "Nimbora", "nimtun1" };
    QTest::newRow("one carries the name") << three << three << 1;
    QTest::newRow("none does: the last is renamed")
        << QStringList { "nimtun0", "nimtun1" } << QStringList(three.mid(0, 2)) << 1;
}

void TestLauncherWorker::realAdapters()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, afterwards);
    QFETCH(int, chosen);
    if (!privateNetwork)
        QSKIP("needs root: real tun devices in a network namespace of the test's own");

    QList<int> indexes;
    for (const QString &device : qAsConst(devices)) {
        QVERIFY(ip(QStringLiteral("tuntap add dev %1 mode tun").arg(device)));
        indexes << QNetworkInterface::interfaceFromName(device).index();
    }
    LauncherWorker worker;
    worker.start();
    QStringList names;
    for (int index : qAsConst(indexes))
        names << QNetworkInterface::interfaceFromIndex(index).name();
    for (const QString &name : qAsConst(names))
        ip(QStringLiteral("link del %1").arg(name));

    QCOMPARE(worker.state(), LauncherWorker::Finished);
    QCOMPARE(names, afterwards);
    // The interface name is the guid here, so the chosen adapter is known by its new name.
    QCOMPARE(GlobalValues::value(GlobalValues::Interface).toString(), afterwards.at(chosen));
}

NIMBORA_TEST_MAIN(TestLauncherWorker, QCoreApplication)
#include "tst_launcherworker.moc"
