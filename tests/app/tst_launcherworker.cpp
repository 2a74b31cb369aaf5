#include "app/launcherworker.h"
#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/networkproxystream.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include <memory>

namespace {

// Root runs the checks against real tun devices in a network namespace of the test's own;
// elsewhere the adapters come from a fake system.
const bool privateNetwork = PrivateNetwork::enter();

using States = QList<LauncherWorker::State>;
using Progress = QList<int>;

QByteArray versionReply(const QByteArray &code, const QByteArray &optional, const QByteArray &mandatory)
{
    return "<?xml version=\"1.0\"?>\n<nimbora><code>" + code + "</code><optional>" + optional + "</optional><mandatory>"
        + mandatory + "</mandatory></nimbora>";
}

bool ip(const QString &command)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), command.split(QLatin1Char(' ')));
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
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

Q_DECLARE_METATYPE(QList<NetworkSystem::DriverEntry>)

class TestLauncherWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void versionComparison_data();
    void versionComparison();
    void migration_data();
    void migration();
    void run_data();
    void run();
    void runsAgain();
    void storedProxyCredentials_data();
    void storedProxyCredentials();
    void realAdapters_data();
    void realAdapters();

private:
    void useFakeAdapters(const QList<NetworkSystem::DriverEntry> &drivers);

    TestHttpServer server;
    std::unique_ptr<FakeNetworkSystem> system;
    QString loopbackName;
};

void TestLauncherWorker::initTestCase()
{
    registerNetworkProxyMetaType();
    if (privateNetwork)
        QVERIFY(ip(QStringLiteral("link set lo up")));
    QVERIFY(server.start());
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        if (networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack))
            loopbackName = networkInterface.name();
    }
    QVERIFY(!loopbackName.isEmpty());
}

void TestLauncherWorker::init()
{
    QSettings settings;
    settings.clear();
    // Never the built-in main server: the test's own, on this machine.
    settings.setValue(SettingsKeys::MainServerAddress, server.address());
    settings.setValue(SettingsKeys::MainServerSecure, false);
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
    server.setBehaviour(TestHttpServer::Answer);
    server.setAnswer("version", versionReply("OK", "1.6.7", "1.0"));
    GlobalValues::clear();
}

void TestLauncherWorker::cleanup()
{
    system.reset();
}

// The loopback interface stands in for the VPN adapter: real, present, and never renamed
// because the fake only records the rename.
void TestLauncherWorker::useFakeAdapters(const QList<NetworkSystem::DriverEntry> &drivers)
{
    system.reset(new FakeNetworkSystem(NetworkSystem::Linux));
    system->drivers = drivers;
}

void TestLauncherWorker::versionComparison_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("newer");

    QTest::newRow("1.6.7.1") << "1.6.7.1" << true;
    QTest::newRow("1.6.10: numbers, not text") << "1.6.10" << true;
    QTest::newRow("1.6") << "1.6" << false;
    QTest::newRow("2") << "2" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("same") << "1.6.7" << false;
    QTest::newRow("same with a zero fourth part") << "1.6.7.0" << false;
    QTest::newRow("older") << "1.5.99" << false;
    QTest::newRow("fifth part ignored") << "1.6.7.0.1" << false;
    QTest::newRow("non-numeric part is 0") << "1.6.x" << false;
    QTest::newRow("non-numeric later part") << "1.7.beta" << true;
    QTest::newRow("suffix makes the part 0") << "1.6.8-rc1" << false;
    QTest::newRow("empty part is 0") << "1..8" << false;
    QTest::newRow("negative part is 0") << "1.-6.9" << false;
    QTest::newRow("leading zeros") << "1.6.08" << true;
    QTest::newRow("beyond 64 bits is 0") << "99999999999999999999999" << false;
    QTest::newRow("huge but numeric") << "18446744073709551615" << true;
    QTest::newRow("dots only") << "..." << false;
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

    const QVariant httpProxy
        = QVariant::fromValue(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("proxy.example"), 8080));
    const QVariant socksProxy
        = QVariant::fromValue(QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("socks.example"), 1085));
    QTest::newRow("proxyMode 2") << QVariantMap { { "options/connection/proxyMode", 2 } }
                                 << QVariantMap { { "options/connection/proxy", "manual" } };
    QTest::newRow("proxyMode 1") << QVariantMap { { "options/connection/proxyMode", 1 } }
                                 << QVariantMap { { "options/connection/proxy", "system" } };
    QTest::newRow("proxyMode 0") << QVariantMap { { "options/connection/proxyMode", 0 } }
                                 << QVariantMap { { "options/connection/proxy", "none" } };
    QTest::newRow("proxyMode 7") << QVariantMap { { "options/connection/proxyMode", 7 } }
                                 << QVariantMap { { "options/connection/proxy", "none" } };
    QTest::newRow("proxyMode as text") << QVariantMap { { "options/connection/proxyMode", "system" },
        { "options/connection/proxy", "manual" } }
                                       << QVariantMap { { "options/connection/proxy", "manual" } };
    QTest::newRow("connectionMode removed")
        << QVariantMap { { "options/connection/connectionMode", 3 }, { "options/general/autoConnect", true } }
        << QVariantMap { { "options/general/autoConnect", true } };
    QTest::newRow("old proxies to host and port")
        << QVariantMap { { "options/connection/httpProxy", httpProxy },
               { "options/connection/socksProxy", socksProxy } }
        << QVariantMap { { "options/connection/httpProxyHost", "proxy.example" },
               { "options/connection/httpProxyPort", 8080 }, { "options/connection/socksProxyHost", "socks.example" },
               { "options/connection/socksProxyPort", 1085 } };
    QTest::newRow("old proxy that is not one") << QVariantMap {
        { "options/connection/httpProxy", "proxy.example:8080" }, { "options/connection/httpProxyHost", "kept.example" }
    } << QVariantMap { { "options/connection/httpProxyHost", "kept.example" } };
    QTest::newRow("nothing to migrate") << QVariantMap { { "options/connection/proxy", "none" } }
                                        << QVariantMap { { "options/connection/proxy", "none" } };
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

void TestLauncherWorker::run_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: the connection is dropped
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("checkForUpdates");
    QTest::addColumn<QList<NetworkSystem::DriverEntry>>("drivers");
    QTest::addColumn<States>("states");
    QTest::addColumn<Progress>("progress");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("renamed");

    using Entries = QList<NetworkSystem::DriverEntry>;
    const Entries adapter { { "veth", "1.0", "nimv0" }, { "tun", "1.6", "LOOPBACK" } };
    const Entries none;
    const States finished { LauncherWorker::Running, LauncherWorker::Finished };
    const States failed { LauncherWorker::Running, LauncherWorker::Failed };
    const Progress all { 0, 20, 40, 60, 100 };
    const Progress serverStop { 0, 20 };
    const Progress adapterStop { 0, 20, 40 };
    const QByteArray upToDate = versionReply("OK", "1.6.7", "1.0");

    QTest::newRow("up to date, adapter renamed")
        << upToDate << 200 << true << adapter << finished << all << int(LauncherWorker::NoError) << true;
    QTest::newRow("code FAILED") << versionReply("FAILED", "1.6.7", "1.0") << 200 << true << adapter << failed
                                 << serverStop << int(LauncherWorker::ServerError) << false;
    QTest::newRow("code in lower case") << versionReply("ok", "1.6.7", "1.0") << 200 << true << adapter << failed
                                        << serverStop << int(LauncherWorker::ServerError) << false;
    QTest::newRow("no code") << QByteArray("<nimbora><optional>1.6.7</optional></nimbora>") << 200 << true << adapter
                             << failed << serverStop << int(LauncherWorker::ServerError) << false;
    QTest::newRow("not XML") << QByteArray("It works!") << 200 << true << adapter << failed << serverStop
                             << int(LauncherWorker::ServerError) << false;
    QTest::newRow("HTTP 500") << upToDate << 500 << true << adapter << failed << serverStop
                              << int(LauncherWorker::ServerError) << false;
    QTest::newRow("connection dropped") << QByteArray() << 200 << true << adapter << failed << serverStop
                                        << int(LauncherWorker::ServerError) << false;
    QTest::newRow("mandatory update") << versionReply("OK", "1.6.7", "1.6.8") << 200 << true << adapter << failed
                                      << serverStop << int(LauncherWorker::MandatoryUpdateError) << false;
    QTest::newRow("mandatory before optional") << versionReply("OK", "1.8", "1.7") << 200 << true << adapter << failed
                                               << serverStop << int(LauncherWorker::MandatoryUpdateError) << false;
    QTest::newRow("optional update, then finished")
        << versionReply("OK", "1.6.7.1", "1.0") << 200 << true << adapter
        << States { LauncherWorker::Running, LauncherWorker::Failed, LauncherWorker::Finished } << all
        << int(LauncherWorker::OptionalUpdateError) << true;
    QTest::newRow("optional update not offered") << versionReply("OK", "1.6.7.1", "1.0") << 200 << false << adapter
                                                 << finished << all << int(LauncherWorker::NoError) << true;
    QTest::newRow("optional update, no adapter: one Failed")
        << versionReply("OK", "2.0", "1.0") << 200 << true << none << failed << adapterStop
        << int(LauncherWorker::InterfaceNotFoundError) << false;
    QTest::newRow("no adapter") << upToDate << 200 << true << none << failed << adapterStop
                                << int(LauncherWorker::InterfaceNotFoundError) << false;
    QTest::newRow("driver of another version")
        << upToDate << 200 << true << Entries { { "tun", "1.5", "LOOPBACK" } } << failed << adapterStop
        << int(LauncherWorker::InterfaceNotFoundError) << false;
    QTest::newRow("driver of a missing interface")
        << upToDate << 200 << true << Entries { { "tun", "1.6", "nimgone0" } } << failed << adapterStop
        << int(LauncherWorker::InterfaceNotFoundError) << false;
    QTest::newRow("versions missing") << QByteArray("<nimbora><code>OK</code></nimbora>") << 200 << true << adapter
                                      << finished << all << int(LauncherWorker::NoError) << true;
    QTest::newRow("versions not numbers") << versionReply("OK", "abc", "x.y.z") << 200 << true << adapter << finished
                                          << all << int(LauncherWorker::NoError) << true;
}

void TestLauncherWorker::run()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(bool, checkForUpdates);
    QFETCH(QList<NetworkSystem::DriverEntry>, drivers);
    QFETCH(States, states);
    QFETCH(Progress, progress);
    QFETCH(int, error);
    QFETCH(bool, renamed);

    for (NetworkSystem::DriverEntry &entry : drivers) {
        if (entry.instanceId == QLatin1String("LOOPBACK"))
            entry.instanceId = loopbackName;
    }
    useFakeAdapters(drivers);
    if (reply.isEmpty())
        server.setBehaviour(TestHttpServer::Drop);
    else
        server.setAnswer("version", reply, "text/xml; charset=utf-8", status);
    QSettings().setValue(SettingsKeys::CheckForUpdates, checkForUpdates);
    const int requestsBefore = server.requests().size();

    LauncherWorker worker;
    Recorder recorder(&worker);
    worker.start();

    QCOMPARE(recorder.states, states);
    QCOMPARE(recorder.progress, progress);
    QCOMPARE(worker.error(), error);
    QCOMPARE(worker.state(), states.last());
    QCOMPARE(worker.progress(), quint8(progress.last()));

    // A version request, unique by its token (a dropped connection is tried twice).
    QVERIFY(server.requests().size() > requestsBefore);
    const QByteArray requestLine = server.requests().last().requestLine;
    const QRegularExpressionMatch token
        = QRegularExpression(QStringLiteral("^GET /client/version\\?token=(\\d{1,4}) HTTP/1\\.1$"))
              .match(QString::fromLatin1(requestLine));
    QVERIFY2(token.hasMatch(), requestLine.constData());

    // The fixed values are there whatever the outcome.
    QCOMPARE(GlobalValues::value(GlobalValues::DefaultUserAgent).toString(),
        QStringLiteral("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:61.0) Gecko/20100101 Firefox/61.0"));
    QCOMPARE(GlobalValues::value(GlobalValues::DriverName).toString(), QStringLiteral("tun"));
    QCOMPARE(GlobalValues::value(GlobalValues::DriverVersion).toString(), QStringLiteral("1.6"));
    QCOMPARE(GlobalValues::value(GlobalValues::InterfaceName).toString(), QStringLiteral("Nimbora"));
    QCOMPARE(GlobalValues::value(GlobalValues::CertificatPath).toString(),
        QCoreApplication::applicationDirPath() + QStringLiteral("/ca.crt"));
    QVERIFY(GlobalValues::value(GlobalValues::OpenvpnPath).toString().endsWith(QLatin1String("/openvpn")));
    QCOMPARE(QSettings().value(SettingsKeys::ApplicationVersion).toString(), QStringLiteral("1.6.7"));

    const bool reachedLookup = progress.size() > 2;
    QCOMPARE(system->driverReads, reachedLookup ? 1 : 0);
    if (renamed) {
        const int index = QNetworkInterface::interfaceFromName(loopbackName).index();
        QCOMPARE(system->renamed, (QList<QPair<int, QString>> { { index, QStringLiteral("Nimbora") } }));
        // The fake renamed nothing: the guid is the adapter's name as it stands.
        QCOMPARE(GlobalValues::value(GlobalValues::Interface).toString(), loopbackName);
    } else {
        QVERIFY(system->renamed.isEmpty());
        QVERIFY(!GlobalValues::contains(GlobalValues::Interface));
    }
}

// Every run starts from the beginning: state, error and progress included.
void TestLauncherWorker::runsAgain()
{
    useFakeAdapters({});
    LauncherWorker worker;
    Recorder recorder(&worker);
    worker.start();
    QCOMPARE(worker.error(), int(LauncherWorker::InterfaceNotFoundError));

    system->drivers = { { "tun", "1.6", loopbackName } };
    server.setAnswer("version", versionReply("OK", "1.7", "1.0"));
    worker.start();
    worker.start();
    QSettings().setValue(SettingsKeys::MainServerAddress, QStringLiteral("127.0.0.1:1"));
    worker.start();

    QCOMPARE(recorder.states,
        (States { LauncherWorker::Running, LauncherWorker::Failed, LauncherWorker::Running, LauncherWorker::Failed,
            LauncherWorker::Finished, LauncherWorker::Running, LauncherWorker::Failed, LauncherWorker::Finished,
            LauncherWorker::Running, LauncherWorker::Failed }));
    QCOMPARE(recorder.errorsAtEnds, (QList<int> { 5, 3, 3, 3, 3, 1 }));
    QCOMPARE(recorder.errorsAtStarts, (QList<int> { 0, 0, 0, 0 }));
    QCOMPARE(recorder.progress, (Progress { 0, 20, 40, 0, 20, 40, 60, 100, 0, 20, 40, 60, 100, 0, 20 }));
}

void TestLauncherWorker::storedProxyCredentials_data()
{
    QTest::addColumn<QVariant>("autoAuth");
    QTest::addColumn<bool>("copied");

    QTest::newRow("automatic") << QVariant(true) << true;
    QTest::newRow("not automatic") << QVariant(false) << false;
    QTest::newRow("not set") << QVariant() << false;
}

void TestLauncherWorker::storedProxyCredentials()
{
    QFETCH(QVariant, autoAuth);
    QFETCH(bool, copied);

    useFakeAdapters({ { "tun", "1.6", loopbackName } });
    QSettings settings;
    if (autoAuth.isValid())
        settings.setValue(SettingsKeys::ProxyAutoAuth, autoAuth);
    settings.setValue(SettingsKeys::ProxyUsername, QStringLiteral("proxyuser"));
    settings.setValue(SettingsKeys::ProxyPassword, QStringLiteral("proxypass"));
    LauncherWorker worker;
    worker.start();
    QCOMPARE(worker.state(), LauncherWorker::Finished);
    QCOMPARE(
        GlobalValues::value(GlobalValues::ProxyUsername).toString(), copied ? QStringLiteral("proxyuser") : QString());
    QCOMPARE(
        GlobalValues::value(GlobalValues::ProxyPassword).toString(), copied ? QStringLiteral("proxypass") : QString());
}

void TestLauncherWorker::realAdapters_data()
{
    QTest::addColumn<QStringList>("devices"); // tun devices, in creation order
    QTest::addColumn<QStringList>("afterwards"); // their names after the checks
    QTest::addColumn<int>("chosen"); // which one became "interface"

    QTest::newRow("one carries the name")
        << QStringList { "nimtun0", "Nimbora", "nimtun1" } << QStringList { "nimtun0", "Nimbora", "nimtun1" } << 1;
    QTest::newRow("none carries it: the last is renamed")
        << QStringList { "nimtun0", "nimtun1" } << QStringList { "nimtun0", "Nimbora" } << 1;
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
