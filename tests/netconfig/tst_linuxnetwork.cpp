#include "base/globalvalues.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/tapadapters.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/commands.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <sched.h>
#include <sys/mount.h>

// The Linux system calls against the kernel: rtnetlink, ethtool, the ip fallback and the
// resolver file. The rules around them are tested against the fake in tst_networkconfiguration.
namespace {

// The whole test runs in network and mount namespaces of its own: its devices, routes and
// resolver file vanish with the process. Made before the first thread starts.
const bool privateNetwork = PrivateNetwork::enter();
const bool privateMounts
    = privateNetwork && unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

// The administrative state; Qt calls a tun device without a carrier down.
bool linkUp(const QString &name)
{
    QString output;
    return ip(QStringLiteral("-o link show dev ") + name, &output)
        && output.contains(QRegularExpression(QStringLiteral("[<,]UP[,>]")));
}

NetworkAdapter adapterNamed(const QString &name)
{
    return NetworkAdapter(QNetworkInterface::interfaceFromName(name));
}

// "destination mask gateway adapter"
Route route(const char *text, int metric = 0)
{
    const QStringList words = QString::fromLatin1(text).split(QLatin1Char(' '));
    Route route;
    route.destination = QHostAddress(words.at(0));
    route.mask = QHostAddress(words.at(1));
    route.gateway = QHostAddress(words.at(2));
    route.adapter = adapterNamed(words.at(3));
    route.metric = metric;
    return route;
}

// The route as the table gives it back, or an invalid one.
Route found(const Route &wanted)
{
    const QList<Route> routes = routingTable();
    for (const Route &route : routes) {
        if (route == wanted)
            return route;
    }
    return Route();
}

} // namespace

class TestLinuxNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void routingTableShowsIpRoutes();
    void addDeleteRoundTrip_data();
    void addDeleteRoundTrip();
    void restoredAsItWas_data();
    void restoredAsItWas();
    void dnsServersFromNamespaceResolvConf();
    void tapAdapters();
    void renameAndEnable();
    void weakHostRoundTrip();
    void programWithInput();
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
    ip("route flush exact 0.0.0.0/0", &ignored);
    ip("route flush 198.18.60.0/24", &ignored);
    for (const char *device : { "nimtun0", "nimtun1", "Nimbora", "Nimbora2" })
        ip(QStringLiteral("link del ") + QLatin1String(device), &ignored);
}

void TestLinuxNetwork::routingTableShowsIpRoutes()
{
    QVERIFY(ip("route add 198.18.60.0/24 via 198.18.50.2 dev nimv0 metric 7"));
    QVERIFY(ip("route add 198.18.60.9/32 via 198.18.51.2 dev nimv1"));
    QVERIFY(ip("route append default via 198.18.50.254 dev nimv0 metric 25"));
    QVERIFY(ip("route append default via 198.18.51.254 dev nimv1 metric 10"));

    const Route network = found(route("198.18.60.0 255.255.255.0 198.18.50.2 nimv0"));
    QCOMPARE(network.adapter.networkInterface().name(), QStringLiteral("nimv0"));
    QCOMPARE(network.adapter.guid(), QStringLiteral("nimv0"));
    QCOMPARE(network.metric, 7);
    const Route host = found(route("198.18.60.9 255.255.255.255 198.18.51.2 nimv1"));
    QCOMPARE(host.adapter.networkInterface().name(), QStringLiteral("nimv1"));
    QCOMPARE(host.metric, 0);
    // The links' own subnets, on the link.
    QVERIFY(found(route("198.18.50.0 255.255.255.0 0.0.0.0 nimv0")).adapter.isValid());
    QCOMPARE(adapterRoutes(adapterNamed("nimv1").networkInterface()).size(), 3);
    QCOMPARE(defaultAdapter().networkInterface().name(), QStringLiteral("nimv1"));
    NetworkAdapter adapter = adapterNamed("nimv0");
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("198.18.50.254")));
}

void TestLinuxNetwork::addDeleteRoundTrip_data()
{
    QTest::addColumn<bool>("ipFallback"); // the rtnetlink calls refused
    QTest::addColumn<int>("metric");
    QTest::addColumn<int>("tableMetric");

    QTest::newRow("rtnetlink, automatic metric") << false << -1 << 1;
    QTest::newRow("ip, metric 40") << true << 40 << 40;
}

void TestLinuxNetwork::addDeleteRoundTrip()
{
    QFETCH(bool, ipFallback);
    QFETCH(int, metric);
    QFETCH(int, tableMetric);

    const Route wanted = route("198.18.60.0 255.255.255.0 198.18.50.2 nimv0", metric);
    auto change = [&](bool (*operation)(const Route &, QString *)) {
        if (!ipFallback)
            return operation(wanted, nullptr);
        FakeNetworkSystem refusing(NetworkSystem::Linux);
        refusing.createAnswer = [](const NetworkSystem::ForwardRow &) { return 1u; };
        refusing.deleteAnswer = 1;
        refusing.runPrograms = true;
        return operation(wanted, nullptr);
    };
    QVERIFY(change(addRoute));
    const Route added = found(wanted);
    QCOMPARE(added.metric, tableMetric);
    QCOMPARE(added.adapter.networkInterface().name(), QStringLiteral("nimv0"));
    QVERIFY(!change(addRoute)); // already there
    QVERIFY(change(deleteRoute));
    QVERIFY(!found(wanted).isValid());
    QVERIFY(!change(deleteRoute));
}

// A default route deleted for a connection comes back as the network manager made it, byte for
// byte as ip shows it, through rtnetlink alone or through ip when rtnetlink refuses.
void TestLinuxNetwork::restoredAsItWas_data()
{
    QTest::addColumn<bool>("ipFallback");
    QTest::addColumn<QString>("route"); // as ip adds it

    const QString dhcp = QStringLiteral("default via 198.18.50.254 dev nimv0 proto dhcp src 198.18.50.1 metric 100");
    QTest::newRow("dhcp with its source address") << false << dhcp;
    QTest::newRow("on-link gateway, type of service, realms, locked mtu")
        << false
        << "default via 198.18.99.1 dev nimv0 proto boot onlink tos 0x10 metric 7 mtu lock 1400 advmss 1360 realms 2/5";
    QTest::newRow("ip: dhcp with its source address") << true << dhcp;
}

void TestLinuxNetwork::restoredAsItWas()
{
    QFETCH(bool, ipFallback);
    QFETCH(QString, route);

    QVERIFY(ip(QStringLiteral("route add ") + route));
    QString before;
    QVERIFY(ip("-d route show table main", &before));
    Route taken;
    const QList<Route> routes = routingTable();
    for (const Route &candidate : routes) {
        if (candidate.destination.toIPv4Address() == 0 && candidate.mask.toIPv4Address() == 0)
            taken = candidate;
    }
    QVERIFY(taken.isValid());

    // Either way alone: the other one refuses.
    FakeNetworkSystem oneWay(NetworkSystem::Linux);
    oneWay.realRoutes = !ipFallback;
    oneWay.runPrograms = ipFallback;
    oneWay.createAnswer = [](const NetworkSystem::ForwardRow &) { return 1u; };
    oneWay.deleteAnswer = 1;
    QString error;
    QVERIFY2(deleteRoute(taken, &error), qPrintable(error));
    QString during;
    QVERIFY(ip("-d route show table main", &during));
    QVERIFY2(!during.contains(QLatin1String("default")), qPrintable(during));
    QVERIFY2(addRoute(taken, &error), qPrintable(error));
    QString after;
    QVERIFY(ip("-d route show table main", &after));
    QCOMPARE(after, before);
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
    QCOMPARE(servers, QList<QHostAddress>({ QHostAddress("198.18.0.53"), QHostAddress("198.18.0.54") }));
}

// The kernel's tun driver, as ethtool reports it, in creation order; the veth links are not.
void TestLinuxNetwork::tapAdapters()
{
    QVERIFY(ip("tuntap add dev nimtun1 mode tun"));
    QVERIFY(ip("tuntap add dev nimtun0 mode tun"));
    GlobalValues::setValue(GlobalValues::DriverName, QStringLiteral("tun"));
    GlobalValues::setValue(GlobalValues::DriverVersion, QStringLiteral("1.6"));
    QStringList names;
    const QList<NetworkAdapter> adapters = ::tapAdapters();
    for (const NetworkAdapter &adapter : adapters)
        names << adapter.guid();
    QCOMPARE(names, QStringList({ "nimtun1", "nimtun0" }));
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
    enableInterface(renamed);
    QVERIFY(linkUp(QStringLiteral("Nimbora")));

    // A link that is up is renamed all the same, and stays up.
    renameInterface(renamed, QStringLiteral("Nimbora2"));
    QCOMPARE(QNetworkInterface::interfaceFromIndex(tun.index()).name(), QStringLiteral("Nimbora2"));
    QVERIFY(linkUp(QStringLiteral("Nimbora2")));
}

void TestLinuxNetwork::weakHostRoundTrip()
{
    QFile forwarding(QStringLiteral("/proc/sys/net/ipv4/conf/nimv0/forwarding"));
    QVERIFY(forwarding.open(QIODevice::WriteOnly));
    QCOMPARE(forwarding.write("1\n"), qint64(2));
    forwarding.close();
    const QNetworkInterface networkInterface = adapterNamed("nimv0").networkInterface();
    NetworkSystem::HostModel model;
    QVERIFY(NetworkSystem::instance()->hostModel(networkInterface, &model));
    QVERIFY(model.forwarding);

    ::disableWeakHost(networkInterface);
    QVERIFY(forwarding.open(QIODevice::ReadOnly));
    QCOMPARE(forwarding.readAll().trimmed(), QByteArray("0"));
    forwarding.close();

    QVERIFY(restoreWeakHost(networkInterface, model));
    QVERIFY(forwarding.open(QIODevice::ReadOnly));
    QCOMPARE(forwarding.readAll().trimmed(), QByteArray("1"));
}

// resolvconf reads its record on standard input.
void TestLinuxNetwork::programWithInput()
{
    const NetworkSystem::ProgramResult result = NetworkSystem::runProcess(
        QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("tr a-z A-Z; exit 3") }, 10000, "name");
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 3);
    QCOMPARE(result.output, QByteArray("NAME"));
}

NIMBORA_TEST_MAIN(TestLinuxNetwork, QCoreApplication)
#include "tst_linuxnetwork.moc"
