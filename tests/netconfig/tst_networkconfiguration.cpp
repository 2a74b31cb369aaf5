#include "base/globalvalues.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/tapadapters.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

quint32 ip(const char *text)
{
    return QHostAddress(QString::fromLatin1(text)).toIPv4Address();
}

NetworkSystem::ForwardRow row(
    const char *destination, const char *mask, const char *nextHop, int interfaceIndex, int metric)
{
    NetworkSystem::ForwardRow row;
    row.destination = ip(destination);
    row.mask = ip(mask);
    row.nextHop = ip(nextHop);
    row.interfaceIndex = interfaceIndex;
    row.metric = metric;
    return row;
}

QNetworkInterface loopback()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        if (networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return networkInterface;
    }
    return QNetworkInterface();
}

Route route(const char *destination, const char *mask, const char *gateway, int metric = -1)
{
    Route route;
    route.destination = QHostAddress(QString::fromLatin1(destination));
    route.mask = QHostAddress(QString::fromLatin1(mask));
    route.gateway = QHostAddress(QString::fromLatin1(gateway));
    route.adapter = NetworkAdapter(loopback());
    route.metric = metric;
    return route;
}

using Calls = QList<QPair<int, int>>; // metric, type of each CreateIpForwardEntry call

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
    void invalidRouteRefused_data();
    void invalidRouteRefused();
    void windowsAddRoute_data();
    void windowsAddRoute();
    void windowsDeleteRoute_data();
    void windowsDeleteRoute();
    void linuxRouteFallback_data();
    void linuxRouteFallback();
    void netshCommands_data();
    void netshCommands();
    void linuxAdapterSettings();
    void guidText_data();
    void guidText();
    void routingTableRows();
    void defaultAdapter_data();
    void defaultAdapter();
    void gatewayWalksAgain();
    void dnsServers_data();
    void dnsServers();
    void tapAdapters_data();
    void tapAdapters();
    void prefixLength_data();
    void prefixLength();

private:
    QList<QNetworkInterface> interfaces;
};

void TestNetworkConfiguration::initTestCase()
{
    interfaces = QNetworkInterface::allInterfaces();
    QVERIFY2(loopback().isValid(), "the loopback interface is missing");
}

void TestNetworkConfiguration::routeRules_data()
{
    QTest::addColumn<Route>("first");
    QTest::addColumn<Route>("second");
    QTest::addColumn<bool>("firstValid");
    QTest::addColumn<bool>("equal");

    Route otherAdapter = route("10.0.0.0", "255.0.0.0", "192.168.1.1", 40);
    otherAdapter.adapter = NetworkAdapter();
    QTest::newRow("same route, other adapter and metric")
        << route("10.0.0.0", "255.0.0.0", "192.168.1.1", 5) << otherAdapter << true << true;
    QTest::newRow("other gateway") << route("10.0.0.0", "255.0.0.0", "192.168.1.1")
                                   << route("10.0.0.0", "255.0.0.0", "192.168.1.2") << true << false;
    QTest::newRow("other mask") << route("10.0.0.0", "255.0.0.0", "192.168.1.1")
                                << route("10.0.0.0", "255.255.0.0", "192.168.1.1") << true << false;
    QTest::newRow("default route is valid")
        << route("0.0.0.0", "0.0.0.0", "192.168.1.1") << route("0.0.0.0", "0.0.0.0", "192.168.1.1") << true << true;
    QTest::newRow("null gateway") << route("10.0.0.0", "255.0.0.0", "") << route("10.0.0.0", "255.0.0.0", "") << false
                                  << true;
    QTest::newRow("null destination") << route("", "255.0.0.0", "192.168.1.1")
                                      << route("10.0.0.0", "255.0.0.0", "192.168.1.1") << false << false;
    QTest::newRow("null mask") << route("10.0.0.0", "", "192.168.1.1") << route("10.0.0.0", "255.0.0.0", "192.168.1.1")
                               << false << false;
    QTest::newRow("no adapter") << otherAdapter << otherAdapter << false << true;
    QTest::newRow("default-constructed") << Route() << Route() << false << true;
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
}

void TestNetworkConfiguration::invalidRouteRefused_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<Route>("invalid");

    Route noAdapter = route("10.0.0.0", "255.0.0.0", "192.168.1.1");
    noAdapter.adapter = NetworkAdapter();
    for (NetworkSystem::Platform platform : { NetworkSystem::Windows, NetworkSystem::Linux }) {
        const char *name = platform == NetworkSystem::Windows ? "windows" : "linux";
        QTest::addRow("%s: null gateway", name) << platform << route("10.0.0.0", "255.0.0.0", "");
        QTest::addRow("%s: no adapter", name) << platform << noAdapter;
    }
}

void TestNetworkConfiguration::invalidRouteRefused()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(Route, invalid);

    FakeNetworkSystem system(platform);
    system.programResult = { true, 0, "OK" };
    QVERIFY(!addRoute(invalid));
    QVERIFY(!deleteRoute(invalid));
    QVERIFY(system.created.isEmpty());
    QVERIFY(system.deleted.isEmpty());
    QVERIFY(system.runs.isEmpty());
}

void TestNetworkConfiguration::windowsAddRoute_data()
{
    QTest::addColumn<int>("metric");
    QTest::addColumn<uint>("failure"); // what the system answers to a row it refuses
    QTest::addColumn<int>("acceptedMetric"); // the metric it takes with type 3; -1 none
    QTest::addColumn<Calls>("firstCalls");
    QTest::addColumn<int>("callCount");
    QTest::addColumn<QStringList>("routeArguments"); // empty: route.exe does not run
    QTest::addColumn<QByteArray>("routeOutput");
    QTest::addColumn<bool>("added");

    const QStringList add { "add", "10.1.0.0", "mask", "255.255.0.0", "192.168.1.1" };
    QTest::newRow("taken at once, -1 as 1")
        << -1 << 0u << 1 << Calls { { 1, 4 } } << 1 << QStringList() << QByteArray() << true;
    QTest::newRow("taken at once, metric kept")
        << 30 << 0u << 30 << Calls { { 30, 4 } } << 1 << QStringList() << QByteArray() << true;
    QTest::newRow("bad arguments until metric 3 as a direct route")
        << -1 << 160u << 3 << Calls { { 1, 4 }, { 1, 4 }, { 1, 3 }, { 2, 4 }, { 2, 3 }, { 3, 4 }, { 3, 3 } } << 7
        << QStringList() << QByteArray() << true;
    QTest::newRow("other failure leaves the loop for route.exe")
        << -1 << 5u << -1 << Calls { { 1, 4 }, { 1, 4 } } << 2 << add << QByteArray(" OK!\r\n") << true;
    QTest::newRow("9999 goes to route.exe at once")
        << 9999 << 160u << -1 << Calls { { 9999, 4 } } << 1 << add + QStringList { "metric", "9999" }
        << QByteArray(" OK!\r\n") << true;
    QTest::newRow("bad arguments up to 2048, then route.exe fails")
        << -1 << 160u << -1 << Calls { { 1, 4 }, { 1, 4 }, { 1, 3 }, { 2, 4 } } << 1 + 2 * 2048 << add
        << QByteArray("The route addition failed: The parameter is incorrect.") << false;
    QTest::newRow("route.exe says ok in lower case")
        << 5 << 87u << -1 << Calls { { 5, 4 }, { 5, 4 } } << 2 << add + QStringList { "metric", "5" }
        << QByteArray("ok") << false;
}

void TestNetworkConfiguration::windowsAddRoute()
{
    QFETCH(int, metric);
    QFETCH(uint, failure);
    QFETCH(int, acceptedMetric);
    QFETCH(Calls, firstCalls);
    QFETCH(int, callCount);
    QFETCH(QStringList, routeArguments);
    QFETCH(QByteArray, routeOutput);
    QFETCH(bool, added);

    FakeNetworkSystem system(NetworkSystem::Windows);
    system.createAnswer = [&](const NetworkSystem::ForwardRow &row) -> quint32 {
        if (failure == 0 || (row.metric == acceptedMetric && row.type == 3))
            return 0;
        return failure;
    };
    system.programResult = { true, 0, routeOutput };

    const Route wanted = route("10.1.0.0", "255.255.0.0", "192.168.1.1", metric);
    QCOMPARE(addRoute(wanted), added);
    QCOMPARE(system.created.size(), callCount);
    for (int i = 0; i < firstCalls.size(); ++i) {
        QCOMPARE(system.created.at(i).metric, firstCalls.at(i).first);
        QCOMPARE(system.created.at(i).type, firstCalls.at(i).second);
    }
    const NetworkSystem::ForwardRow &first = system.created.first();
    QCOMPARE(first.destination, ip("10.1.0.0"));
    QCOMPARE(first.mask, ip("255.255.0.0"));
    QCOMPARE(first.nextHop, ip("192.168.1.1"));
    QCOMPARE(first.interfaceIndex, loopback().index());
    QCOMPARE(first.protocol, 3);
    if (routeArguments.isEmpty()) {
        QVERIFY(system.runs.isEmpty());
    } else {
        QCOMPARE(system.runs.size(), 1);
        QCOMPARE(system.runs.first().program, QStringLiteral("C:\\Windows\\System32\\route.exe"));
        QCOMPARE(system.runs.first().arguments, routeArguments);
        QCOMPARE(system.runs.first().timeout, 30000);
    }
}

void TestNetworkConfiguration::windowsDeleteRoute_data()
{
    QTest::addColumn<uint>("answer");
    QTest::addColumn<NetworkSystem::ProgramResult>("program");
    QTest::addColumn<bool>("runsRouteExe");
    QTest::addColumn<bool>("deleted");

    QTest::newRow("system call") << 0u << NetworkSystem::ProgramResult() << false << true;
    QTest::newRow("route.exe") << 1168u << NetworkSystem::ProgramResult { true, 0, " OK!" } << true << true;
    QTest::newRow("route.exe fails") << 1168u << NetworkSystem::ProgramResult { true, 1, "Route not found" } << true
                                     << false;
    QTest::newRow("route.exe past its time")
        << 1168u << NetworkSystem::ProgramResult { false, -1, "OK" } << true << false;
}

void TestNetworkConfiguration::windowsDeleteRoute()
{
    QFETCH(uint, answer);
    QFETCH(NetworkSystem::ProgramResult, program);
    QFETCH(bool, runsRouteExe);
    QFETCH(bool, deleted);

    FakeNetworkSystem system(NetworkSystem::Windows);
    system.deleteAnswer = answer;
    system.programResult = program;
    QCOMPARE(deleteRoute(route("10.1.0.0", "255.255.0.0", "192.168.1.1", 25)), deleted);
    QCOMPARE(system.deleted.size(), 1);
    QCOMPARE(system.deleted.first().destination, ip("10.1.0.0"));
    QCOMPARE(system.deleted.first().interfaceIndex, loopback().index());
    QCOMPARE(system.runs.size(), runsRouteExe ? 1 : 0);
    if (runsRouteExe) {
        // No metric for a deletion.
        QCOMPARE(
            system.runs.first().arguments, QStringList({ "delete", "10.1.0.0", "mask", "255.255.0.0", "192.168.1.1" }));
    }
}

void TestNetworkConfiguration::linuxRouteFallback_data()
{
    QTest::addColumn<bool>("add");
    QTest::addColumn<Route>("wanted");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("changed");

    const QString lo = loopback().name();
    QTest::newRow("add, automatic metric")
        << true << route("10.1.0.0", "255.255.0.0", "192.168.1.1") << 0
        << QStringList { "route", "add", "10.1.0.0/16", "via", "192.168.1.1", "dev", lo, "metric", "1" } << true;
    QTest::newRow("add, metric 9999") << true << route("10.1.2.3", "255.255.255.255", "192.168.1.1", 9999) << 0
                                      << QStringList { "route", "add", "10.1.2.3/32", "via", "192.168.1.1", "dev", lo,
                                             "metric", "9999" }
                                      << true;
    QTest::newRow("add on the link") << true << route("10.1.0.0", "255.255.0.0", "0.0.0.0") << 0
                                     << QStringList { "route", "add", "10.1.0.0/16", "dev", lo, "metric", "1" } << true;
    QTest::newRow("add refused by ip") << true << route("0.0.0.0", "0.0.0.0", "192.168.1.1", 3) << 2
                                       << QStringList { "route", "add", "0.0.0.0/0", "via", "192.168.1.1", "dev", lo,
                                              "metric", "3" }
                                       << false;
    QTest::newRow("add, mask with holes")
        << true << route("10.0.0.0", "255.0.255.0", "192.168.1.1") << 1
        << QStringList { "route", "add", "10.0.0.0/255.0.255.0", "via", "192.168.1.1", "dev", lo, "metric", "1" }
        << false;
    QTest::newRow("delete") << false << route("10.1.0.0", "255.255.0.0", "192.168.1.1", 7) << 0
                            << QStringList { "route", "del", "10.1.0.0/16", "via", "192.168.1.1", "dev", lo } << true;
}

void TestNetworkConfiguration::linuxRouteFallback()
{
    QFETCH(bool, add);
    QFETCH(Route, wanted);
    QFETCH(int, exitCode);
    QFETCH(QStringList, arguments);
    QFETCH(bool, changed);

    FakeNetworkSystem system(NetworkSystem::Linux);
    // Even the answer that makes Windows retry sends Linux straight to ip.
    system.createAnswer = [](const NetworkSystem::ForwardRow &) { return NetworkSystem::ErrorBadArguments; };
    system.deleteAnswer = 3;
    system.programResult = { true, exitCode, QByteArray() };
    QCOMPARE(add ? addRoute(wanted) : deleteRoute(wanted), changed);
    QCOMPARE(system.created.size(), add ? 1 : 0);
    QCOMPARE(system.deleted.size(), add ? 0 : 1);
    QCOMPARE(system.runs.size(), 1);
    QCOMPARE(QFileInfo(system.runs.first().program).fileName(), QStringLiteral("ip"));
    QCOMPARE(system.runs.first().arguments, arguments);
}

void TestNetworkConfiguration::netshCommands_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<NetworkSystem::HostModel>("model");
    QTest::addColumn<bool>("modelReadable");
    QTest::addColumn<QList<QStringList>>("commands");

    const QString name = loopback().humanReadableName();
    const QStringList set { "interface", "ip", "set", "interface", name };
    QTest::newRow("rename") << "rename" << NetworkSystem::HostModel() << true
                            << QList<QStringList> { { "interface", "set", "interface", "name=" + name,
                                   "newname=Nimbora VPN" } };
    QTest::newRow("enable") << "enable" << NetworkSystem::HostModel() << true
                            << QList<QStringList> { { "interface", "set", "interface", name, "ENABLED" } };
    QTest::newRow("weak host: all three, in order")
        << "weakHost" << NetworkSystem::HostModel { true, true, true } << true
        << QList<QStringList> { set + QStringList { "forwarding=disabled" },
               set + QStringList { "weakhostsend=disabled" }, set + QStringList { "weakhostreceive=disabled" } };
    QTest::newRow("weak host: receive only") << "weakHost" << NetworkSystem::HostModel { false, false, true } << true
                                             << QList<QStringList> { set + QStringList { "weakhostreceive=disabled" } };
    QTest::newRow("weak host: nothing set") << "weakHost" << NetworkSystem::HostModel() << true << QList<QStringList>();
    QTest::newRow("weak host: no interface row")
        << "weakHost" << NetworkSystem::HostModel { true, true, true } << false << QList<QStringList>();
}

void TestNetworkConfiguration::netshCommands()
{
    QFETCH(QString, operation);
    QFETCH(NetworkSystem::HostModel, model);
    QFETCH(bool, modelReadable);
    QFETCH(QList<QStringList>, commands);

    FakeNetworkSystem system(NetworkSystem::Windows);
    system.model = model;
    system.hostModelReadable = modelReadable;
    if (operation == QLatin1String("rename"))
        renameInterface(loopback(), QStringLiteral("Nimbora VPN"));
    else if (operation == QLatin1String("enable"))
        enableInterface(loopback());
    else
        disableWeakHost(loopback());

    QCOMPARE(system.runs.size(), commands.size());
    for (int i = 0; i < commands.size(); ++i) {
        QCOMPARE(system.runs.at(i).program, QStringLiteral("C:\\Windows\\System32\\netsh.exe"));
        QCOMPARE(system.runs.at(i).arguments, commands.at(i));
    }
}

void TestNetworkConfiguration::linuxAdapterSettings()
{
    FakeNetworkSystem system(NetworkSystem::Linux);
    const QNetworkInterface lo = loopback();
    renameInterface(lo, QStringLiteral("Nimbora"));
    enableInterface(lo);
    system.model = { false, true, true };
    disableWeakHost(lo);
    QVERIFY(system.forwardingDisabled.isEmpty());
    system.model = { true, false, false };
    disableWeakHost(lo);

    QCOMPARE(system.renamed, (QList<QPair<int, QString>> { { lo.index(), QStringLiteral("Nimbora") } }));
    QCOMPARE(system.enabled, QList<int> { lo.index() });
    QCOMPARE(system.forwardingDisabled, QStringList { lo.name() });
    QVERIFY(system.runs.isEmpty());
}

void TestNetworkConfiguration::guidText_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("validInterface");
    QTest::addColumn<QString>("guid");

    QTest::newRow("braces and upper case") << true << true << "{6F2B5C1A-0D3E-4B7A-9C21-AB12CD34EF56}";
    QTest::newRow("no guid: the name") << false << true << loopback().name();
    QTest::newRow("invalid interface") << true << false << "";
}

void TestNetworkConfiguration::guidText()
{
    QFETCH(bool, known);
    QFETCH(bool, validInterface);
    QFETCH(QString, guid);

    FakeNetworkSystem system(NetworkSystem::Windows);
    if (known)
        system.guids.insert(loopback().index(), QUuid(QStringLiteral("{6f2b5c1a-0d3e-4b7a-9c21-ab12cd34ef56}")));
    const NetworkAdapter adapter(validInterface ? loopback() : QNetworkInterface());
    QCOMPARE(adapter.guid(), guid);
    if (validInterface)
        QCOMPARE(adapterByGuid(guid, allAdapters()).networkInterface().index(), loopback().index());
    if (known) // the comparison is exact
        QVERIFY(!adapterByGuid(guid.toLower(), allAdapters()).isValid());
}

void TestNetworkConfiguration::routingTableRows()
{
    FakeNetworkSystem system(NetworkSystem::Windows);
    const int lo = loopback().index();
    system.table
        = { row("0.0.0.0", "0.0.0.0", "192.168.1.1", lo, 25), row("10.0.0.0", "255.0.0.0", "10.0.0.1", 999, 3) };
    const QList<Route> routes = routingTable();
    QCOMPARE(routes.size(), 2);
    QCOMPARE(routes.at(0).destination, QHostAddress(QStringLiteral("0.0.0.0")));
    QCOMPARE(routes.at(0).gateway, QHostAddress(QStringLiteral("192.168.1.1")));
    QCOMPARE(routes.at(0).adapter.networkInterface().index(), lo);
    QCOMPARE(routes.at(0).metric, 25);
    QCOMPARE(routes.at(1).mask, QHostAddress(QStringLiteral("255.0.0.0")));
    QVERIFY(!routes.at(1).adapter.isValid()); // an index the system does not know
    QCOMPARE(adapterRoutes(loopback()).size(), 1);

    system.tableReadable = false;
    QVERIFY(routingTable().isEmpty());
    QVERIFY(!::defaultAdapter().isValid());
}

void TestNetworkConfiguration::defaultAdapter_data()
{
    QTest::addColumn<int>("firstMetric");
    QTest::addColumn<int>("secondMetric");
    QTest::addColumn<int>("chosen"); // 0 first, 1 second, -1 none

    QTest::newRow("25 then 10: the second") << 25 << 10 << 1;
    QTest::newRow("10 then 25: the first") << 10 << 25 << 0;
    QTest::newRow("equal: the first") << 10 << 10 << 0;
    QTest::newRow("no default route") << -1 << -1 << -1;
}

void TestNetworkConfiguration::defaultAdapter()
{
    QFETCH(int, firstMetric);
    QFETCH(int, secondMetric);
    QFETCH(int, chosen);
    if (interfaces.size() < 2)
        QSKIP("needs two network interfaces");

    FakeNetworkSystem system(NetworkSystem::Windows);
    const int indexes[] = { interfaces.at(0).index(), interfaces.at(1).index() };
    system.table << row("10.0.0.0", "255.0.0.0", "10.0.0.1", indexes[1], 0);
    if (firstMetric >= 0) {
        system.table << row("0.0.0.0", "0.0.0.0", "192.168.1.1", indexes[0], firstMetric)
                     << row("0.0.0.0", "0.0.0.0", "192.168.2.1", indexes[1], secondMetric);
    }
    // Only a full default route counts.
    system.table << row("0.0.0.0", "128.0.0.0", "192.168.3.1", indexes[0], 0);
    const NetworkAdapter adapter = ::defaultAdapter();
    if (chosen < 0)
        QVERIFY(!adapter.isValid());
    else
        QCOMPARE(adapter.networkInterface().index(), indexes[chosen]);
}

void TestNetworkConfiguration::gatewayWalksAgain()
{
    FakeNetworkSystem system(NetworkSystem::Windows);
    const int lo = loopback().index();
    system.table
        = { row("10.0.0.0", "255.0.0.0", "10.0.0.1", lo, 1), row("0.0.0.0", "0.0.0.0", "192.168.9.1", 999, 1) };
    NetworkAdapter adapter(loopback());
    QVERIFY(adapterGateway(adapter).isNull());
    QVERIFY(adapterGateway(adapter).isNull());
    QCOMPARE(system.tableReads, 2);

    system.table << row("0.0.0.0", "0.0.0.0", "192.168.1.1", lo, 5) << row("0.0.0.0", "0.0.0.0", "192.168.1.2", lo, 1);
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("192.168.1.1")));
    QCOMPARE(adapterGateway(adapter), QHostAddress(QStringLiteral("192.168.1.1")));
    QCOMPARE(system.tableReads, 3);
}

void TestNetworkConfiguration::dnsServers_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QStringList>("adapterList");
    QTest::addColumn<QByteArray>("resolvConf");
    QTest::addColumn<QStringList>("servers");

    QTest::newRow("windows: chain order")
        << NetworkSystem::Windows << true << QStringList { "198.18.0.53", "192.0.2.1" } << QByteArray()
        << QStringList { "198.18.0.53", "192.0.2.1" };
    QTest::newRow("windows: adapter without servers")
        << NetworkSystem::Windows << true << QStringList { "" } << QByteArray() << QStringList();
    QTest::newRow("windows: unreadable") << NetworkSystem::Windows << false << QStringList { "192.0.2.1" }
                                         << QByteArray() << QStringList();
    QTest::newRow("linux: file order")
        << NetworkSystem::Linux << true << QStringList()
        << QByteArray("# generated\nsearch lab.example\nnameserver 198.18.0.53\n\tnameserver   192.0.2.1  \n")
        << QStringList { "198.18.0.53", "192.0.2.1" };
    QTest::newRow("linux: IPv6, comments and junk skipped")
        << NetworkSystem::Linux << true << QStringList()
        << QByteArray("nameserver ::1\n; nameserver 192.0.2.9\n#nameserver 192.0.2.8\nnameserver\n"
                      "nameserver 999.1.1.1\nnameservers 192.0.2.7\nnameserver 192.0.2.1 extra\r\n\0\xff")
        << QStringList { "192.0.2.1" };
    QTest::newRow("linux: unreadable") << NetworkSystem::Linux << false << QStringList()
                                       << QByteArray("nameserver 192.0.2.1\n") << QStringList();
    QTest::newRow("linux: empty") << NetworkSystem::Linux << true << QStringList() << QByteArray() << QStringList();
}

void TestNetworkConfiguration::dnsServers()
{
    QFETCH(NetworkSystem::Platform, platform);
    QFETCH(bool, readable);
    QFETCH(QStringList, adapterList);
    QFETCH(QByteArray, resolvConf);
    QFETCH(QStringList, servers);

    FakeNetworkSystem system(platform);
    system.dnsReadable = system.resolverReadable = readable;
    system.adapterDns = adapterList;
    system.resolverFile = resolvConf;
    QStringList found;
    const QList<QHostAddress> addresses = ::dnsServers(loopback());
    for (const QHostAddress &address : addresses)
        found << address.toString();
    QCOMPARE(found, servers);
}

void TestNetworkConfiguration::tapAdapters_data()
{
    QTest::addColumn<NetworkSystem::Platform>("platform");
    QTest::addColumn<QList<NetworkSystem::DriverEntry>>("drivers");
    QTest::addColumn<QStringList>("found"); // guids

    const QString guid = QStringLiteral("{6F2B5C1A-0D3E-4B7A-9C21-AB12CD34EF56}");
    const QString lo = loopback().name();
    using Entries = QList<NetworkSystem::DriverEntry>;
    QTest::newRow("windows: right driver")
        << NetworkSystem::Windows << Entries { { "nimtap", "9.0.0.22", guid } } << QStringList { guid };
    QTest::newRow("windows: other version")
        << NetworkSystem::Windows << Entries { { "nimtap", "9.0.0.21", guid } } << QStringList();
    QTest::newRow("windows: other component")
        << NetworkSystem::Windows << Entries { { "tap0901", "9.0.0.22", guid } } << QStringList();
    QTest::newRow("windows: guid in lower case")
        << NetworkSystem::Windows << Entries { { "nimtap", "9.0.0.22", guid.toLower() } } << QStringList();
    QTest::newRow("windows: installed, not present")
        << NetworkSystem::Windows
        << Entries { { "nimtap", "9.0.0.22", "{00000000-0000-0000-0000-000000000001}" }, { "nimtap", "9.0.0.22", guid },
               { "", "", "" } }
        << QStringList { guid };
    QTest::newRow("linux: two in order") << NetworkSystem::Linux
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
    if (platform == NetworkSystem::Windows) {
        system.guids.insert(loopback().index(), QUuid(QStringLiteral("{6f2b5c1a-0d3e-4b7a-9c21-ab12cd34ef56}")));
        GlobalValues::setValue(GlobalValues::DriverName, QStringLiteral("nimtap"));
        GlobalValues::setValue(GlobalValues::DriverVersion, QStringLiteral("9.0.0.22"));
    } else {
        GlobalValues::setValue(GlobalValues::DriverName, QStringLiteral("tun"));
        GlobalValues::setValue(GlobalValues::DriverVersion, QStringLiteral("1.6"));
    }
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
    QTest::newRow("1") << "128.0.0.0" << 1;
    QTest::newRow("24") << "255.255.255.0" << 24;
    QTest::newRow("32") << "255.255.255.255" << 32;
    QTest::newRow("holes") << "255.0.255.0" << -1;
    QTest::newRow("reversed") << "0.0.0.255" << -1;
    QTest::newRow("IPv6") << "ffff::" << -1;
    QTest::newRow("null") << "" << -1;
}

void TestNetworkConfiguration::prefixLength()
{
    QFETCH(QString, mask);
    QFETCH(int, length);
    QCOMPARE(NetworkConfiguration::prefixLength(QHostAddress(mask)), length);
}

NIMBORA_TEST_MAIN(TestNetworkConfiguration, QCoreApplication)
#include "tst_networkconfiguration.moc"
