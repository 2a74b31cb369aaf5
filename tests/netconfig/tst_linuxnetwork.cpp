#include "base/globalvalues.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/networksystem.h"
#include "netconfig/tapadapters.h"

#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <optional>

#include <sched.h>
#include <sys/mount.h>

namespace {

// The whole test runs in network and mount namespaces of its own: its devices, routes and
// resolver file vanish with the process. Made before the first thread starts.
const bool privateNetwork = PrivateNetwork::enter();
const bool privateMounts
    = privateNetwork && unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

bool run(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(NetworkConfiguration::ipProgram(), arguments);
    const bool ok
        = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    else if (!ok)
        qWarning("ip %s: %s", qPrintable(arguments.join(QLatin1Char(' '))), process.readAll().constData());
    return ok;
}

bool ip(const QString &command)
{
    return run(command.split(QLatin1Char(' ')));
}

// The administrative state; Qt calls a tun device without a carrier down.
bool linkUp(const QString &name)
{
    QString output;
    return run({ "-o", "link", "show", "dev", name }, &output)
        && output.contains(QRegularExpression(QStringLiteral("[<,]UP[,>]")));
}

NetworkAdapter adapterNamed(const QString &name)
{
    return NetworkAdapter(QNetworkInterface::interfaceFromName(name));
}

Route route(const char *destination, const char *mask, const char *gateway, const QString &adapter, int metric)
{
    Route route;
    route.destination = QHostAddress(QString::fromLatin1(destination));
    route.mask = QHostAddress(QString::fromLatin1(mask));
    route.gateway = QHostAddress(QString::fromLatin1(gateway));
    route.adapter = adapterNamed(adapter);
    route.metric = metric;
    return route;
}

std::optional<Route> find(const QList<Route> &routes, const Route &wanted)
{
    for (const Route &route : routes) {
        if (route == wanted)
            return route;
    }
    return std::nullopt;
}

// The platform's system with its route calls refused, to drive the ip fallback.
class NetlinkRefused : public NetworkSystem
{
public:
    NetlinkRefused() : NetworkSystem(Linux), real(platformSystem()) { setInstance(this); }
    ~NetlinkRefused() override { setInstance(nullptr); }

    bool interfaceGuid(int index, QUuid *guid) override { return real->interfaceGuid(index, guid); }
    bool forwardTable(QList<ForwardRow> *rows) override { return real->forwardTable(rows); }
    quint32 createForwardEntry(const ForwardRow &) override { return 1; }
    quint32 deleteForwardEntry(const ForwardRow &) override { return 1; }
    bool adapterDnsServers(int index, QStringList *addresses) override
    {
        return real->adapterDnsServers(index, addresses);
    }
    bool resolverConfiguration(QByteArray *contents) override { return real->resolverConfiguration(contents); }
    bool hostModel(const QNetworkInterface &networkInterface, HostModel *model) override
    {
        return real->hostModel(networkInterface, model);
    }
    bool disableForwarding(const QNetworkInterface &networkInterface) override
    {
        return real->disableForwarding(networkInterface);
    }
    bool renameLink(int index, const QString &name) override { return real->renameLink(index, name); }
    bool enableLink(int index) override { return real->enableLink(index); }
    QList<DriverEntry> driverEntries() override { return real->driverEntries(); }

private:
    NetworkSystem *real;
};

} // namespace

class TestLinuxNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void routingTableShowsIpRoutes();
    void defaultAdapter_data();
    void defaultAdapter();
    void gatewayWalksAgain();
    void addDeleteRoundTrip_data();
    void addDeleteRoundTrip();
    void ipFallback();
    void dnsServersFromNamespaceResolvConf();
    void tapAdapters_data();
    void tapAdapters();
    void renameAndEnable();
    void disableWeakHost();
};

void TestLinuxNetwork::initTestCase()
{
    if (!privateNetwork)
        QSKIP("needs root: the kernel tests run in a network namespace of their own (unshare)");
    QVERIFY(ip("link set lo up"));
    // Two links of a veth pair, each with a subnet of its own.
    QVERIFY(ip("link add nimv0 type veth peer name nimv1"));
    QVERIFY(ip("addr add 198.18.50.1/24 dev nimv0"));
    QVERIFY(ip("addr add 198.18.51.1/24 dev nimv1"));
    QVERIFY(ip("link set nimv0 up"));
    QVERIFY(ip("link set nimv1 up"));
}

void TestLinuxNetwork::cleanup()
{
    QString ignored;
    while (run({ "route", "del", "default" }, &ignored)) { }
    run({ "route", "flush", "198.18.60.0/24" }, &ignored);
    for (const char *device : { "nimtun0", "nimtun1", "Nimbora", "Nimbora2" })
        run({ "link", "del", QString::fromLatin1(device) }, &ignored);
}

void TestLinuxNetwork::routingTableShowsIpRoutes()
{
    QVERIFY(ip("route add 198.18.60.0/24 via 198.18.50.2 dev nimv0 metric 7"));
    QVERIFY(ip("route add 198.18.60.9/32 via 198.18.51.2 dev nimv1"));
    const QList<Route> routes = routingTable();

    const std::optional<Route> network = find(routes, route("198.18.60.0", "255.255.255.0", "198.18.50.2", "nimv0", 0));
    QVERIFY(network);
    QCOMPARE(network->adapter.networkInterface().name(), QStringLiteral("nimv0"));
    QCOMPARE(network->adapter.guid(), QStringLiteral("nimv0"));
    QCOMPARE(network->metric, 7);
    const std::optional<Route> host = find(routes, route("198.18.60.9", "255.255.255.255", "198.18.51.2", "nimv1", 0));
    QVERIFY(host);
    QCOMPARE(host->adapter.networkInterface().name(), QStringLiteral("nimv1"));
    QCOMPARE(host->metric, 0);
    // The links' own subnets, on the link.
    QVERIFY(find(routes, route("198.18.50.0", "255.255.255.0", "0.0.0.0", "nimv0", 0)));
    QCOMPARE(adapterRoutes(adapterNamed("nimv1").networkInterface()).size(), 2);
}

void TestLinuxNetwork::defaultAdapter_data()
{
    QTest::addColumn<int>("firstMetric");
    QTest::addColumn<int>("secondMetric");
    QTest::addColumn<QString>("expected");

    QTest::newRow("25 then 10: the second") << 25 << 10 << "nimv1";
    QTest::newRow("equal metrics: the first") << 10 << 10 << "nimv0";
    QTest::newRow("no default route") << -1 << -1 << "";
}

void TestLinuxNetwork::defaultAdapter()
{
    QFETCH(int, firstMetric);
    QFETCH(int, secondMetric);
    QFETCH(QString, expected);

    if (firstMetric >= 0) {
        QVERIFY(ip(QStringLiteral("route append default via 198.18.50.254 dev nimv0 metric %1").arg(firstMetric)));
        QVERIFY(ip(QStringLiteral("route append default via 198.18.51.254 dev nimv1 metric %1").arg(secondMetric)));
    }
    const NetworkAdapter adapter = ::defaultAdapter();
    QCOMPARE(adapter.networkInterface().name(), expected);
}

void TestLinuxNetwork::gatewayWalksAgain()
{
    NetworkAdapter adapter = adapterNamed("nimv0");
    QVERIFY(adapterGateway(adapter).isNull());
    QVERIFY(ip("route add default via 198.18.50.254 dev nimv0"));
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("198.18.50.254")));
    // Found once, kept.
    QVERIFY(ip("route del default"));
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("198.18.50.254")));
    NetworkAdapter other = adapterNamed("nimv1");
    QVERIFY(adapterGateway(other).isNull());
}

void TestLinuxNetwork::addDeleteRoundTrip_data()
{
    QTest::addColumn<int>("metric");
    QTest::addColumn<int>("tableMetric");

    QTest::newRow("automatic") << -1 << 1;
    QTest::newRow("9999") << 9999 << 9999;
}

void TestLinuxNetwork::addDeleteRoundTrip()
{
    QFETCH(int, metric);
    QFETCH(int, tableMetric);

    const Route wanted = route("198.18.60.0", "255.255.255.0", "198.18.50.2", "nimv0", metric);
    QVERIFY(addRoute(wanted));
    const std::optional<Route> added = find(routingTable(), wanted);
    QVERIFY(added);
    QCOMPARE(added->metric, tableMetric);
    QCOMPARE(added->adapter.networkInterface().name(), QStringLiteral("nimv0"));
    QVERIFY(!addRoute(wanted)); // already there, for the system call and for ip

    QVERIFY(deleteRoute(wanted));
    QVERIFY(!find(routingTable(), wanted));
    QVERIFY(!deleteRoute(wanted));
}

void TestLinuxNetwork::ipFallback()
{
    NetlinkRefused system;
    const Route wanted = route("198.18.60.0", "255.255.255.0", "198.18.51.2", "nimv1", 40);
    QVERIFY(addRoute(wanted));
    const std::optional<Route> added = find(routingTable(), wanted);
    QVERIFY(added);
    QCOMPARE(added->metric, 40);
    QVERIFY(deleteRoute(wanted));
    QVERIFY(!find(routingTable(), wanted));
    QVERIFY(!deleteRoute(wanted));
}

// What "ip netns exec" does for a namespace's resolv.conf: a file mounted over the system's.
void TestLinuxNetwork::dnsServersFromNamespaceResolvConf()
{
    if (!privateMounts)
        QSKIP("no mount namespace of its own here");
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("# the namespace's own\nnameserver 198.18.0.53\noptions timeout:1\nnameserver 198.18.0.54\n");
    file.flush();
    QVERIFY2(mount(QFile::encodeName(file.fileName()).constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0,
        "cannot mount over /etc/resolv.conf");
    const QList<QHostAddress> servers = ::dnsServers(adapterNamed("nimv0").networkInterface());
    umount("/etc/resolv.conf");
    QCOMPARE(servers,
        (QList<QHostAddress> {
            QHostAddress(QStringLiteral("198.18.0.53")), QHostAddress(QStringLiteral("198.18.0.54")) }));
}

void TestLinuxNetwork::tapAdapters_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("tun 1.6: the tun devices in order") << "1.6" << QStringList { "nimtun1", "nimtun0" };
    QTest::newRow("another version") << "1.5" << QStringList();
}

void TestLinuxNetwork::tapAdapters()
{
    QFETCH(QString, version);
    QFETCH(QStringList, found);

    QVERIFY(ip("tuntap add dev nimtun1 mode tun"));
    QVERIFY(ip("tuntap add dev nimtun0 mode tun"));
    GlobalValues::setValue(GlobalValues::DriverName, QStringLiteral("tun"));
    GlobalValues::setValue(GlobalValues::DriverVersion, version);
    QStringList names;
    const QList<NetworkAdapter> adapters = ::tapAdapters();
    for (const NetworkAdapter &adapter : adapters) {
        QCOMPARE(adapter.guid(), adapter.networkInterface().name());
        names << adapter.guid();
    }
    QCOMPARE(names, found);
}

void TestLinuxNetwork::renameAndEnable()
{
    QVERIFY(ip("tuntap add dev nimtun0 mode tun"));
    const QNetworkInterface tun = QNetworkInterface::interfaceFromName(QStringLiteral("nimtun0"));
    QVERIFY(tun.isValid());
    QVERIFY(!linkUp(QStringLiteral("nimtun0")));

    renameInterface(tun, QStringLiteral("Nimbora"));
    QNetworkInterface renamed = QNetworkInterface::interfaceFromIndex(tun.index());
    QCOMPARE(renamed.name(), QStringLiteral("Nimbora"));
    QVERIFY(!QNetworkInterface::interfaceFromName(QStringLiteral("nimtun0")).isValid());

    enableInterface(renamed);
    QVERIFY(linkUp(QStringLiteral("Nimbora")));

    // A link that is up is renamed all the same, and stays up.
    renameInterface(renamed, QStringLiteral("Nimbora2"));
    renamed = QNetworkInterface::interfaceFromIndex(tun.index());
    QCOMPARE(renamed.name(), QStringLiteral("Nimbora2"));
    QVERIFY(linkUp(QStringLiteral("Nimbora2")));
}

void TestLinuxNetwork::disableWeakHost()
{
    QFile forwarding(QStringLiteral("/proc/sys/net/ipv4/conf/nimv0/forwarding"));
    QVERIFY(forwarding.open(QIODevice::WriteOnly));
    QCOMPARE(forwarding.write("1\n"), qint64(2));
    forwarding.close();

    ::disableWeakHost(adapterNamed("nimv0").networkInterface());
    QVERIFY(forwarding.open(QIODevice::ReadOnly));
    QCOMPARE(forwarding.readAll().trimmed(), QByteArray("0"));
}

NIMBORA_TEST_MAIN(TestLinuxNetwork, QCoreApplication)
#include "tst_linuxnetwork.moc"
