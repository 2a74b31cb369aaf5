#include "base/globalvalues.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/tapadapters.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

// The adapter and route rules of both platforms, against a system that records what it is asked.
namespace {

using Platform = NetworkSystem::Platform;
using Result = NetworkSystem::ProgramResult;
using Model = NetworkSystem::HostModel;
using Entries = QList<NetworkSystem::DriverEntry>;
const Platform Windows = NetworkSystem::Windows;
const Platform Linux = NetworkSystem::Linux;
const QString Guid = QStringLiteral("{6F2B5C1A-0D3E-4B7A-9C21-AB12CD34EF56}");

QNetworkInterface loopback()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        if (networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return networkInterface;
    }
    return QNetworkInterface();
}

// "destination mask gateway" on the loopback adapter; "-" for a null address.
Route route(const char *text, int metric = -1)
{
    const QStringList words = QString::fromLatin1(text).split(QLatin1Char(' '));
    auto address = [](const QString &word) { return word == QLatin1String("-") ? QHostAddress() : QHostAddress(word); };
    Route route;
    route.destination = address(words.at(0));
    route.mask = address(words.at(1));
    route.gateway = address(words.at(2));
    route.adapter = NetworkAdapter(loopback());
    route.metric = metric;
    return route;
}

// A forwarding table row from "destination mask nextHop", addresses in host order.
NetworkSystem::ForwardRow row(const char *text, int index, int metric)
{
    const Route parsed = route(text);
    NetworkSystem::ForwardRow row;
    row.destination = parsed.destination.toIPv4Address();
    row.mask = parsed.mask.toIPv4Address();
    row.nextHop = parsed.gateway.toIPv4Address();
    row.interfaceIndex = index;
    row.metric = metric;
    return row;
}

// Expected calls with %1 for the loopback adapter's name, %2 for its index and %3 for the name
// Windows shows the user (netsh's), which on Linux is the name.
QString onLoopback(QString calls)
{
    const QNetworkInterface lo = loopback();
    return calls.replace(QStringLiteral("%1"), lo.name())
        .replace(QStringLiteral("%2"), QString::number(lo.index()))
        .replace(QStringLiteral("%3"), lo.humanReadableName());
}

} // namespace

Q_DECLARE_METATYPE(NetworkSystem::Platform)
Q_DECLARE_METATYPE(NetworkSystem::ProgramResult)
Q_DECLARE_METATYPE(NetworkSystem::HostModel)
Q_DECLARE_METATYPE(QList<NetworkSystem::DriverEntry>)
Q_DECLARE_METATYPE(Route)

class TestNetworkConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routeRules_data();
    void routeRules();
    void windowsAddRoute_data();
    void windowsAddRoute();
    void routeByProgram_data();
    void routeByProgram();
    void adapterSettings_data();
    void adapterSettings();
    void routingTable();
    void dnsServers_data();
    void dnsServers();
    void resolvectlServers_data();
    void resolvectlServers();
    void tapAdapters_data();
    void tapAdapters();
    void prefixLength_data();
    void prefixLength();
};

void TestNetworkConfiguration::initTestCase()
{
    QVERIFY2(loopback().isValid(), "the loopback interface is missing");
}

void TestNetworkConfiguration::routeRules_data()
{
    QTest::addColumn<Route>("first");
    QTest::addColumn<Route>("second");
    QTest::addColumn<bool>("firstValid");
    QTest::addColumn<bool>("equal");

    Route noAdapter = route("10.0.0.0 255.0.0.0 192.168.1.1", 40);
    noAdapter.adapter = NetworkAdapter();
    const Route base = route("10.0.0.0 255.0.0.0 192.168.1.1");
    QTest::newRow("other adapter, metric") << route("10.0.0.0 255.0.0.0 192.168.1.1", 5) << noAdapter << true << true;
    QTest::newRow("other gateway") << base << route("10.0.0.0 255.0.0.0 192.168.1.2") << true << false;
    QTest::newRow("other mask") << base << route("10.0.0.0 255.255.0.0 192.168.1.1") << true << false;
    QTest::newRow("default route is valid") << route("0.0.0.0 0.0.0.0 192.168.1.1") << base << true << false;
    QTest::newRow("null gateway") << route("10.0.0.0 255.0.0.0 -") << route("10.0.0.0 255.0.0.0 -") << false << true;
    QTest::newRow("null destination") << route("- 255.0.0.0 192.168.1.1") << base << false << false;
    QTest::newRow("null mask") << route("10.0.0.0 - 192.168.1.1") << base << false << false;
    QTest::newRow("no adapter") << noAdapter << noAdapter << false << true;
}

void TestNetworkConfiguration::routeRules()
{
    QFETCH(Route, first);
    QFETCH(Route, second);
    QFETCH(bool, firstValid);
    QFETCH(bool, equal);

    QCOMPARE(first.isValid(), firstValid);
    QCOMPARE(first == second, equal);
    QCOMPARE(first != second, !equal);
    QCOMPARE(second == first, equal);

    // An invalid route never reaches the system, on either platform.
    for (Platform platform : { Windows, Linux }) {
        FakeNetworkSystem system(platform);
        system.programResult = { true, 0, "OK" };
        QCOMPARE(addRoute(first), firstValid);
        QCOMPARE(deleteRoute(first), firstValid);
        QCOMPARE(system.created.isEmpty() && system.deleted.isEmpty(), !firstValid);
    }
}

using Calls = QList<QPair<int, int>>; // metric, type of each CreateIpForwardEntry call

// Some adapters take a route only as a direct one, or only above their own metric: the
// system is asked again, up to a bound, before route.exe.
void TestNetworkConfiguration::windowsAddRoute_data()
{
    QTest::addColumn<int>("metric");
    QTest::addColumn<uint>("failure"); // what the system answers to a row it refuses
    QTest::addColumn<int>("acceptedMetric"); // the metric it takes with type 3; -1 none
    QTest::addColumn<Calls>("firstCalls");
    QTest::addColumn<int>("callCount");
    QTest::addColumn<QString>("routeExe"); // its arguments; empty when it does not run
    QTest::addColumn<QByteArray>("routeOutput");
    QTest::addColumn<bool>("added");

    const QString add = QStringLiteral("route.exe add 10.1.0.0 mask 255.255.0.0 192.168.1.1");
    const QByteArray ok(" OK!\r\n");
    QTest::newRow("taken at once, automatic as 1") << -1 << 0u << 1 << Calls { { 1, 4 } } << 1 << "" << ok << true;
    QTest::newRow("bad arguments until metric 3 as a direct route")
        << -1 << 160u << 3 << Calls { { 1, 4 }, { 1, 4 }, { 1, 3 }, { 2, 4 }, { 2, 3 }, { 3, 4 }, { 3, 3 } } << 7 << ""
        << ok << true;
    QTest::newRow("other failure") << -1 << 5u << -1 << Calls { { 1, 4 }, { 1, 4 } } << 2 << add << ok << true;
    QTest::newRow("9999 goes to route.exe at once")
        << 9999 << 160u << -1 << Calls { { 9999, 4 } } << 1 << add + " metric 9999" << ok << true;
    QTest::newRow("bad arguments up to 2048, then route.exe fails")
        << -1 << 160u << -1 << Calls { { 1, 4 }, { 1, 4 }, { 1, 3 }, { 2, 4 } } << 1 + 2 * 2048 << add
        << QByteArray("The route addition failed: The parameter is incorrect.") << false;
}

void TestNetworkConfiguration::windowsAddRoute()
{
    QFETCH(int, metric);
    QFETCH(uint, failure);
    QFETCH(int, acceptedMetric);
    QFETCH(Calls, firstCalls);
    QFETCH(int, callCount);
    QFETCH(QString, routeExe);
    QFETCH(QByteArray, routeOutput);
    QFETCH(bool, added);

    FakeNetworkSystem system(Windows);
    system.createAnswer = [&](const NetworkSystem::ForwardRow &row) -> quint32 {
        return failure == 0 || (row.metric == acceptedMetric && row.type == 3) ? 0 : failure;
    };
    system.programResult = { true, 0, routeOutput };

    QCOMPARE(addRoute(route("10.1.0.0 255.255.0.0 192.168.1.1", metric)), added);
    QCOMPARE(system.created.size(), callCount);
    for (int i = 0; i < firstCalls.size(); ++i)
        QCOMPARE(qMakePair(system.created.at(i).metric, system.created.at(i).type), firstCalls.at(i));
    const NetworkSystem::ForwardRow &first = system.created.first();
    const NetworkSystem::ForwardRow expected = row("10.1.0.0 255.255.0.0 192.168.1.1", loopback().index(), 0);
    QCOMPARE(first.destination, expected.destination);
    QCOMPARE(first.mask, expected.mask);
    QCOMPARE(first.nextHop, expected.nextHop);
    QCOMPARE(first.interfaceIndex, expected.interfaceIndex);
    QCOMPARE(first.protocol, 3);
    QCOMPARE(system.calls.join(QString()), routeExe);
    if (!routeExe.isEmpty())
        QCOMPARE(system.programTimeout, NetworkConfiguration::RouteProgramTimeout);
}

// What the command-line way runs once the system call refused, and how its answer is read:
// route.exe says "OK", ip says it with its exit status.
void TestNetworkConfiguration::routeByProgram_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<bool>("add");
    QTest::addColumn<Route>("wanted");
    QTest::addColumn<NetworkSystem::ProgramResult>("result");
    QTest::addColumn<QString>("command"); // %1: the adapter's name
    QTest::addColumn<bool>("changed");

    const Route net = route("10.1.0.0 255.255.0.0 192.168.1.1", 7);
    const QString del = QStringLiteral("route.exe delete 10.1.0.0 mask 255.255.0.0 192.168.1.1"); // no metric
    QTest::newRow("route.exe delete") << Windows << false << net << Result { true, 0, " OK!" } << del << true;
    QTest::newRow("route.exe fails") << Windows << false << net << Result { true, 1, "Not found" } << del << false;
    QTest::newRow("route.exe past its time") << Windows << false << net << Result { false, -1, "OK" } << del << false;
    // Even the answer that makes Windows retry sends Linux straight to ip.
    const Result done { true, 0, {} };
    QTest::newRow("ip add") << Linux << true << route("10.1.0.0 255.255.0.0 192.168.1.1") << done
                            << "ip route add 10.1.0.0/16 via 192.168.1.1 dev %1 metric 1" << true;
    QTest::newRow("ip add on the link") << Linux << true << route("10.1.0.0 255.255.0.0 0.0.0.0") << done
                                        << "ip route add 10.1.0.0/16 dev %1 metric 1" << true;
    QTest::newRow("ip refuses") << Linux << true << route("0.0.0.0 0.0.0.0 192.168.1.1", 3) << Result { true, 2, {} }
                                << "ip route add 0.0.0.0/0 via 192.168.1.1 dev %1 metric 3" << false;
    QTest::newRow("holes") << Linux << true << route("10.0.0.0 255.0.255.0 192.168.1.1") << Result { true, 1, {} }
                           << "ip route add 10.0.0.0/255.0.255.0 via 192.168.1.1 dev %1 metric 1" << false;
    QTest::newRow("ip delete") << Linux << false << net << done << "ip route del 10.1.0.0/16 via 192.168.1.1 dev %1"
                               << true;
    Route dhcp = route("0.0.0.0 0.0.0.0 192.168.1.1", 100);
    dhcp.attributes.protocol = 16;
    dhcp.attributes.scope = 0;
    dhcp.attributes.source = QHostAddress(QStringLiteral("192.168.1.5"));
    dhcp.attributes.tos = 16;
    dhcp.attributes.realms = 2 << 16 | 5;
    dhcp.attributes.onLink = true;
    QTest::newRow("ip adds a route back as the table had it")
        << Linux << true << dhcp << done
        << "ip route add 0.0.0.0/0 via 192.168.1.1 dev %1 metric 100 "
           "proto 16 scope 0 src 192.168.1.5 tos 16 realms 2/5 onlink"
        << true;
}

void TestNetworkConfiguration::routeByProgram()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(bool, add);
    QFETCH(Route, wanted);
    QFETCH(NetworkSystem::ProgramResult, result);
    QFETCH(QString, command);
    QFETCH(bool, changed);

    FakeNetworkSystem system(platform);
    system.createAnswer = [](const NetworkSystem::ForwardRow &) { return NetworkSystem::ErrorBadArguments; };
    system.deleteAnswer = 1168;
    system.programResult = result;
    QCOMPARE(add ? addRoute(wanted) : deleteRoute(wanted), changed);
    QCOMPARE(system.created.size() + system.deleted.size(), 1);
    QCOMPARE(system.calls.join(QStringLiteral(" | ")), onLoopback(command));
}

void TestNetworkConfiguration::adapterSettings_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<NetworkSystem::HostModel>("model"); // unreadable when null
    QTest::addColumn<QString>("calls"); // %1: the adapter's name, %2: its index, %3: netsh's name

    const QString set = QStringLiteral("netsh.exe interface ip set interface %3 ");
    const QString setLink = QStringLiteral("netsh.exe interface set interface ");
    const Model all { true, true, true };
    QTest::newRow("windows: rename") << Windows << "rename" << Model() << setLink + "name=%3 newname=Nimbora";
    QTest::newRow("windows: enable") << Windows << "enable" << Model() << setLink + "%3 ENABLED";
    QTest::newRow("windows: weak host, all three in order")
        << Windows << "weakHost" << all
        << set + "forwarding=disabled | " + set + "weakhostsend=disabled | " + set + "weakhostreceive=disabled";
    QTest::newRow("windows: receive only")
        << Windows << "weakHost" << Model { false, false, true } << set + "weakhostreceive=disabled";
    QTest::newRow("windows: no interface row") << Windows << "unreadable" << all << "";
    QTest::newRow("windows: back on what was on") << Windows << "restore" << Model { true, false, true }
                                                  << set + "forwarding=enabled | " + set + "weakhostreceive=enabled";
    QTest::newRow("linux: rename") << Linux << "rename" << Model() << "rename %2 Nimbora";
    QTest::newRow("linux: enable") << Linux << "enable" << Model() << "enable %2";
    QTest::newRow("linux: forwarding only") << Linux << "weakHost" << Model { true, true, true } << "no forwarding %1";
    QTest::newRow("linux: no forwarding") << Linux << "weakHost" << Model { false, true, true } << "";
    QTest::newRow("linux: forwarding back on") << Linux << "restore" << Model { true, false, false } << "forwarding %1";
}

void TestNetworkConfiguration::adapterSettings()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(QString, operation);
    QFETCH(NetworkSystem::HostModel, model);
    QFETCH(QString, calls);

    FakeNetworkSystem system(platform);
    system.model = model;
    system.hostModelReadable = operation != QLatin1String("unreadable");
    system.programResult.finished = true;
    system.programResult.exitCode = 0;
    if (operation == QLatin1String("rename"))
        renameInterface(loopback(), QStringLiteral("Nimbora"));
    else if (operation == QLatin1String("enable"))
        enableInterface(loopback());
    else if (operation == QLatin1String("restore"))
        QVERIFY(restoreWeakHost(loopback(), model));
    else
        disableWeakHost(loopback());
    QCOMPARE(system.calls.join(QStringLiteral(" | ")), onLoopback(calls));
}

// The table as routes; the default adapter: the lowest metric, the first of equals, a full
// default route only; the adapter's gateway: its first default route, looked up again only
// while there is none.
void TestNetworkConfiguration::routingTable()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    if (interfaces.size() < 2)
        QSKIP("needs two network interfaces");
    const int first = interfaces.at(0).index();
    const int second = interfaces.at(1).index();
    FakeNetworkSystem system(Windows);
    system.table = { row("10.0.0.0 255.0.0.0 10.0.0.1", first, 3), row("0.0.0.0 128.0.0.0 192.168.3.1", first, 0),
        row("0.0.0.0 0.0.0.0 192.168.9.1", 999, 1) };
    const QList<Route> routes = ::routingTable();
    QCOMPARE(routes.size(), 3);
    QCOMPARE(routes.at(0).destination, QHostAddress(QStringLiteral("10.0.0.0")));
    QCOMPARE(routes.at(0).mask, QHostAddress(QStringLiteral("255.0.0.0")));
    QCOMPARE(routes.at(0).gateway, QHostAddress(QStringLiteral("10.0.0.1")));
    QCOMPARE(routes.at(0).adapter.networkInterface().index(), first);
    QCOMPARE(routes.at(0).metric, 3);
    QVERIFY(!routes.at(2).adapter.isValid()); // an index the system does not know
    QCOMPARE(adapterRoutes(interfaces.at(0)).size(), 2);
    QVERIFY(!::defaultAdapter().isValid());
    NetworkAdapter adapter(interfaces.at(0));
    QVERIFY(adapterGateway(adapter).isNull());
    QVERIFY(adapterGateway(adapter).isNull());

    system.table << row("0.0.0.0 0.0.0.0 192.168.1.1", first, 25) << row("0.0.0.0 0.0.0.0 192.168.2.1", second, 0)
                 << row("0.0.0.0 0.0.0.0 192.168.1.2", first, 0);
    QCOMPARE(::defaultAdapter().networkInterface().index(), second);
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("192.168.1.1")));
    const int reads = system.tableReads;
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("192.168.1.1")));
    QCOMPARE(system.tableReads, reads);

    system.tableReadable = false;
    QVERIFY(::routingTable().isEmpty());
    QVERIFY(!::defaultAdapter().isValid());
}

void TestNetworkConfiguration::dnsServers_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QStringList>("adapterList");
    QTest::addColumn<QByteArray>("resolvConf");
    QTest::addColumn<QString>("servers");

    const QStringList two { "198.18.0.53", "192.0.2.1" };
    QTest::newRow("windows: chain order") << Windows << true << two << QByteArray() << "198.18.0.53 192.0.2.1";
    // The system's list has an empty first entry when the adapter has no server.
    QTest::newRow("windows: adapter without servers") << Windows << true << QStringList { "" } << QByteArray() << "";
    QTest::newRow("windows: unreadable") << Windows << false << two << QByteArray() << "";
    QTest::newRow("linux: file order")
        << Linux << true << QStringList()
        << QByteArray("# generated\nsearch lab.example\nnameserver 198.18.0.53\n\tnameserver   192.0.2.1  \n")
        << "198.18.0.53 192.0.2.1";
    QTest::newRow("linux: IPv6, comments and junk skipped")
        << Linux << true << QStringList()
        << QByteArray("nameserver ::1\n; nameserver 192.0.2.9\n#nameserver 192.0.2.8\nnameserver\n"
                      "nameserver 999.1.1.1\nnameservers 192.0.2.7\nnameserver 192.0.2.1 extra\r\n\0\xff")
        << "192.0.2.1";
    QTest::newRow("linux: unreadable") << Linux << false << QStringList() << QByteArray("nameserver 192.0.2.1\n") << "";
    // The adapter's list is what systemd-resolved forwards to for the link; none where it does not run.
    QTest::newRow("linux: a local stub gives way to the link's servers")
        << Linux << true << QStringList { "198.18.0.53", "192.0.2.1", "2001:db8::53" }
        << QByteArray("nameserver 127.0.0.53\nnameserver 192.0.2.1\noptions edns0 trust-ad\n")
        << "198.18.0.53 192.0.2.1";
    QTest::newRow("linux: a local stub, nothing tells its servers")
        << Linux << true << QStringList() << QByteArray("nameserver 127.0.0.1\n") << "127.0.0.1";
}

void TestNetworkConfiguration::dnsServers()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(bool, readable);
    QFETCH(QStringList, adapterList);
    QFETCH(QByteArray, resolvConf);
    QFETCH(QString, servers);

    FakeNetworkSystem system(platform);
    system.dnsReadable = system.resolverReadable = readable;
    if (platform == Linux)
        system.dnsReadable = !adapterList.isEmpty();
    system.adapterDns = adapterList;
    system.resolverFile = resolvConf;
    QStringList found;
    const QList<QHostAddress> addresses = ::dnsServers(loopback());
    for (const QHostAddress &address : addresses)
        found << address.toString();
    QCOMPARE(found.join(QLatin1Char(' ')), servers);
}

void TestNetworkConfiguration::resolvectlServers_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("servers");

    QTest::newRow("a link's servers") << QByteArray("Link 2 (eth0): 192.0.2.1 192.0.2.2\n")
                                      << QStringList { "192.0.2.1", "192.0.2.2" };
    QTest::newRow("ports and server names, IPv6 as it comes")
        << QByteArray("Link 3 (wlp2s0): 192.0.2.1:53#dns.example [2001:db8::1]:53 fe80::1%3 192.0.2.2#one.example\n")
        << QStringList { "192.0.2.1", "[2001:db8::1]:53", "fe80::1%3", "192.0.2.2" };
    QTest::newRow("no server, the global list left out")
        << QByteArray("Global: 192.0.2.9\nLink 2 (eth0):\n") << QStringList();
    QTest::newRow("a name with a parenthesis")
        << QByteArray("Link 4 (we):rd): 192.0.2.1\n") << QStringList { "192.0.2.1" };
}

void TestNetworkConfiguration::resolvectlServers()
{
    QFETCH(QByteArray, output);
    QTEST(NetworkConfiguration::resolvectlServers(output), "servers");
}

void TestNetworkConfiguration::tapAdapters_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<QList<NetworkSystem::DriverEntry>>("drivers");
    QTest::addColumn<QStringList>("found"); // guids

    const QString lo = loopback().name();
    const QString absent = QStringLiteral("{00000000-0000-0000-0000-000000000001}");
    const Entries ours { { "nimtap", "9.0.0.22", Guid } };
    QTest::newRow("windows: right driver") << Windows << ours << QStringList { Guid };
    const QStringList none;
    QTest::newRow("windows: other version") << Windows << Entries { { "nimtap", "9.0.0.21", Guid } } << none;
    QTest::newRow("windows: other component") << Windows << Entries { { "tap0901", "9.0.0.22", Guid } } << none;
    // Guids are compared in the registry's own form: braces, upper case.
    QTest::newRow("windows: lower case") << Windows << Entries { { "nimtap", "9.0.0.22", Guid.toLower() } } << none;
    QTest::newRow("windows: installed, not present")
        << Windows << Entries { { "nimtap", "9.0.0.22", absent }, ours.first(), {} } << QStringList { Guid };
    // Without a guid, the interface name stands for it.
    QTest::newRow("linux: two in order") << Linux
                                         << Entries { { "tun", "1.6", lo }, { "veth", "1.0", "veth0" },
                                                { "tun", "1.6", lo } }
                                         << QStringList { lo, lo };
}

void TestNetworkConfiguration::tapAdapters()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(QList<NetworkSystem::DriverEntry>, drivers);
    QFETCH(QStringList, found);

    FakeNetworkSystem system(platform);
    const bool windows = platform == Windows;
    if (windows)
        system.guids.insert(loopback().index(), QUuid(Guid.toLower()));
    GlobalValues::setValue(GlobalValues::DriverName, windows ? QStringLiteral("nimtap") : QStringLiteral("tun"));
    GlobalValues::setValue(GlobalValues::DriverVersion, windows ? QStringLiteral("9.0.0.22") : QStringLiteral("1.6"));
    system.drivers = drivers;
    QStringList guids;
    const QList<NetworkAdapter> adapters = ::tapAdapters();
    for (const NetworkAdapter &adapter : adapters)
        guids << adapter.guid();
    QCOMPARE(guids, found);
    QCOMPARE(system.driverReads, 1);
}

void TestNetworkConfiguration::prefixLength_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("length");

    QTest::newRow("0") << "0.0.0.0" << 0;
    QTest::newRow("24") << "255.255.255.0" << 24;
    QTest::newRow("32") << "255.255.255.255" << 32;
    QTest::newRow("holes") << "255.0.255.0" << -1;
    QTest::newRow("reversed") << "0.0.0.255" << -1;
    QTest::newRow("IPv6") << "ffff::" << -1;
}

void TestNetworkConfiguration::prefixLength()
{
    QFETCH(QString, mask);
    QFETCH(int, length);
    QCOMPARE(NetworkConfiguration::prefixLength(QHostAddress(mask)), length);
}

NIMBORA_TEST_MAIN(TestNetworkConfiguration, QCoreApplication)
#include "tst_networkconfiguration.moc"
