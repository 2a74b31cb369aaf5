#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "connection/connectionwork.h"
#include "connection/routeplan.h"
#include "connection/systemproxychange.h"
#include "privileged/killswitch.h"
#include "privileged/machinechanges.h"
#include "privileged/statedirectory.h"
#include "privileged/undojournal.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/fakeopenvpn.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

// The connection work: its route plan, the undo of what it changed, the main server's refusals,
// and whole runs against a stand-in openvpn program and a stand-in routing table, inside a
// network namespace of the test's own.
class TestConnectionWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routePlan_data();
    void routePlan();
    void exceptionHostName_data();
    void exceptionHostName();
    void changesUndone();
    void userJournalOnlyProxy();
    void refusals_data();
    void refusals();
    void runs_data();
    void runs();

private:
    QTemporaryDir m_folder;
    FakeOpenVpn m_fake;
};

namespace {

const bool privateNetwork = PrivateNetwork::enter();

const QString VpnGateway = QStringLiteral("198.19.1.1");
const QString PhysicalGateway = QStringLiteral("198.18.1.1");

QHostAddress address(const QString &text)
{
    return QHostAddress(text);
}

// "destination mask gateway metric", the adapter being told by the gateway.
QStringList routeTexts(const QList<Route> &routes)
{
    QStringList texts;
    for (const Route &route : routes) {
        texts << QStringLiteral("%1 %2 %3 %4")
                     .arg(route.destination.toString(), route.mask.toString(), route.gateway.toString())
                     .arg(route.metric);
    }
    return texts;
}

Route route(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(' '));
    Route route;
    route.destination = address(fields.at(0));
    route.mask = address(fields.at(1));
    route.gateway = address(fields.at(2));
    route.adapter = NetworkAdapter(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    route.metric = fields.value(3, QStringLiteral("-1")).toInt();
    return route;
}

QList<Route> routes(const QStringList &texts)
{
    QList<Route> list;
    for (const QString &text : texts)
        list << route(text);
    return list;
}

NetworkSystem::ForwardRow row(const QString &text)
{
    const Route r = route(text);
    NetworkSystem::ForwardRow row;
    row.destination = r.destination.toIPv4Address();
    row.mask = r.mask.toIPv4Address();
    row.nextHop = r.gateway.toIPv4Address();
    row.interfaceIndex = r.adapter.networkInterface().index();
    row.metric = r.metric;
    return row;
}

QStringList rowTexts(const QList<NetworkSystem::ForwardRow> &rows)
{
    QStringList texts;
    for (const NetworkSystem::ForwardRow &row : rows) {
        texts << QStringLiteral("%1 %2 %3 %4")
                     .arg(QHostAddress(row.destination).toString(), QHostAddress(row.mask).toString(),
                         QHostAddress(row.nextHop).toString())
                     .arg(row.metric);
    }
    return texts;
}

// The physical side of the stand-in table: a default route and the link's own subnet.
const QStringList Table { QStringLiteral("0.0.0.0 0.0.0.0 198.18.1.1 0"),
    QStringLiteral("198.18.1.0 255.255.255.0 0.0.0.0 0") };

} // namespace

void TestConnectionWork::initTestCase()
{
    // Whatever a row does, no resolver of this machine may be rewritten.
    qputenv("NIMBORA_RESOLVER_METHOD", "none-in-tests");
    qputenv("GSETTINGS_BACKEND", "memory");

    if (privateNetwork) {
        QString error;
        QVERIFY2(PrivateNetwork::addAddress(QStringLiteral("198.18.0.11"), &error), qPrintable(error));
    }
    QVERIFY(m_folder.isValid());
    // Run as root the work changes the machine itself: its journal goes here, not to the machine's.
    StateDirectory::setPath(m_folder.filePath(QStringLiteral("state")));
    QString reason;
    QVERIFY2(StateDirectory::prepare(&reason), qPrintable(reason));
    QVERIFY(m_fake.prepare(QStringLiteral(FAKE_OPENVPN), m_folder.path()));
    GlobalValues::setValue(GlobalValues::Username, QStringLiteral("alice"));
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("0123&456"));
}

void TestConnectionWork::routePlan_data()
{
    QTest::addColumn<QStringList>("snapshot");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("redirect");
    QTest::addColumn<bool>("overrideDefaultGateway");
    QTest::addColumn<bool>("dnsServer");
    QTest::addColumn<QStringList>("remove");
    QTest::addColumn<QStringList>("add");

    const QStringList halves { "0.0.0.0 128.0.0.0 198.19.1.1 -1", "128.0.0.0 128.0.0.0 198.19.1.1 -1" };
    const QString endpointRoute = "198.18.0.11 255.255.255.255 198.18.1.1 -1";

    QTest::newRow("redirect off: one demoted default through the VPN, nothing else")
        << Table << "198.18.0.11" << false << true << false << QStringList()
        << QStringList { "0.0.0.0 0.0.0.0 198.19.1.1 9999" };
    QTest::newRow("two halves keep the default route")
        << Table << "198.18.0.11" << true << true << true << QStringList() << QStringList { endpointRoute } + halves;
    QTest::newRow("defaults deleted and demoted, then the VPN's")
        << Table + QStringList { "0.0.0.0 0.0.0.0 198.18.9.1 5" } << "198.18.0.11" << true << false << true
        << QStringList { "0.0.0.0 0.0.0.0 198.18.1.1 0", "0.0.0.0 0.0.0.0 198.18.9.1 5" }
        << QStringList { endpointRoute, "0.0.0.0 0.0.0.0 198.18.1.1 9999", "0.0.0.0 0.0.0.0 198.18.9.1 9999",
               "0.0.0.0 0.0.0.0 198.19.1.1 -1" };
    QTest::newRow("endpoint on a local subnet gets no host route")
        << Table << "198.18.1.77" << true << true << true << QStringList() << halves;
    // 198.18.1.1 is the gateway itself, 198.18.0.53 already has its route.
    QTest::newRow("physical name servers kept outside the tunnel")
        << Table + QStringList { "198.18.0.53 255.255.255.255 198.18.1.1 0" } << "198.18.0.11" << true << true << false
        << QStringList() << QStringList { "198.18.0.54 255.255.255.255 198.18.1.1 -1", endpointRoute } + halves;
}

void TestConnectionWork::routePlan()
{
    QFETCH(QStringList, snapshot);
    QFETCH(QString, endpoint);

    RoutePlan::Input input;
    input.snapshot = routes(snapshot);
    input.endpoint = address(endpoint);
    input.vpnGateway = address(VpnGateway);
    input.physicalGateway = address(PhysicalGateway);
    input.physicalDnsServers = { address("198.18.1.1"), address("198.18.0.53"), address("198.18.0.54") };
    QFETCH(bool, redirect);
    QFETCH(bool, overrideDefaultGateway);
    QFETCH(bool, dnsServer);
    input.redirect = redirect;
    input.overrideDefaultGateway = overrideDefaultGateway;
    input.dnsServer = dnsServer;

    RoutePlan plan = RoutePlan::make(input);
    plan.addExceptionRoutes(input, { address("198.18.0.20"), address("198.18.0.53") });
    QTEST(routeTexts(plan.remove), "remove");
    // The exception's host route goes the way the rest does not; one the table has is left out.
    QFETCH(QStringList, add);
    add << QStringLiteral("198.18.0.20 255.255.255.255 %1 -1").arg(redirect ? PhysicalGateway : VpnGateway);
    if (!redirect)
        add << QStringLiteral("198.18.0.53 255.255.255.255 198.19.1.1 -1");
    else if (!snapshot.join(' ').contains("198.18.0.53"))
        add << QStringLiteral("198.18.0.53 255.255.255.255 198.18.1.1 -1");
    QCOMPARE(routeTexts(plan.add), add);
}

void TestConnectionWork::exceptionHostName_data()
{
    QTest::addColumn<QStringList>("exception");
    QTest::addColumn<QString>("hostName");

    QTest::newRow("URL with scheme and path")
        << QStringList { "Site", "https://www.example.org/a/b?c" } << "www.example.org";
    QTest::newRow("host and path") << QStringList { "Site", "www.example.org/a" } << "www.example.org";
    QTest::newRow("address") << QStringList { "Site", "198.18.0.20" } << "198.18.0.20";
    QTest::newRow("single element") << QStringList { "www.example.org" } << "";
}

void TestConnectionWork::exceptionHostName()
{
    QFETCH(QStringList, exception);
    QTEST(RoutePlan::exceptionHostName(exception), "hostName");
}

void TestConnectionWork::changesUndone()
{
    FakeNetworkSystem system(NetworkSystem::Linux);
    // The system refuses one route; the command-line way too (not run).
    system.createAnswer = [](const NetworkSystem::ForwardRow &row) {
        return row.destination == QHostAddress("198.18.0.66").toIPv4Address() ? 17u : 0u;
    };
    QStringList logs;
    {
        MachineChanges changes(m_folder.filePath(QStringLiteral("undo-journal")));
        connect(&changes, &MachineChanges::log, this, [&logs](const QString &line) { logs << line; });
        changes.changeRoutes(routes({ "0.0.0.0 0.0.0.0 198.18.1.1 0" }),
            routes({ "0.0.0.0 0.0.0.0 198.18.1.1 9999", "198.18.0.66 255.255.255.255 198.18.1.1",
                "0.0.0.0 0.0.0.0 198.19.1.1" }));
        QCOMPARE(logs.size(), 1);
        QVERIFY2(logs.first().startsWith("Route add failed: 198.18.0.66 255.255.255.255 198.18.1.1 lo -1: error 17"),
            qPrintable(logs.first()));
        // The destructor undoes what undo() did not.
    }
    QCOMPARE(rowTexts(system.created),
        QStringList({ "0.0.0.0 0.0.0.0 198.18.1.1 9999", "198.18.0.66 255.255.255.255 198.18.1.1 1",
            "0.0.0.0 0.0.0.0 198.19.1.1 1", "0.0.0.0 0.0.0.0 198.18.1.1 0" }));
    // The refused route is not deleted: a route of the user's with the same address would go.
    QCOMPARE(rowTexts(system.deleted),
        QStringList(
            { "0.0.0.0 0.0.0.0 198.18.1.1 0", "0.0.0.0 0.0.0.0 198.18.1.1 9999", "0.0.0.0 0.0.0.0 198.19.1.1 1" }));
}

// The user's journal is the user's to write: a route or resolver entry planted there is never
// acted on by a start, root's included (sudo keeping HOME points root at it).
void TestConnectionWork::userJournalOnlyProxy()
{
    FakeNetworkSystem system(NetworkSystem::Linux);
    const QString path = m_folder.filePath(QStringLiteral("planted-journal"));
    {
        UndoJournal planted(path);
        QVERIFY(planted.add(QStringLiteral("route-added 0.0.0.0 0.0.0.0 198.18.1.1 lo 0")));
        QVERIFY(planted.add(QStringLiteral("resolver file lo")));
    }
    const QStringList lines = SystemProxyChange::undoLeftovers(path);
    QCOMPARE(lines,
        QStringList({ "After an earlier run: Unknown change left as it is: resolver file lo",
            "After an earlier run: Unknown change left as it is: route-added 0.0.0.0 0.0.0.0 198.18.1.1 lo 0" }));
    QVERIFY(system.deleted.isEmpty());
    QVERIFY(system.created.isEmpty());
}

void TestConnectionWork::refusals_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("error");

    QTest::newRow("no reply") << QByteArray() << int(ConnectionWork::ServerError);
    QTest::newRow("FAILED") << QByteArray("FAILED") << int(ConnectionWork::FailedError);
    QTest::newRow("DENIED") << QByteArray("DENIED") << int(ConnectionWork::DeniedError);
    QTest::newRow("CONNECTED") << QByteArray("CONNECTED") << int(ConnectionWork::AlreadyConnectedError);
    QTest::newRow("OFFLINE") << QByteArray("OFFLINE") << int(ConnectionWork::OfflineError);
    QTest::newRow("NOGROUP") << QByteArray("NOGROUP") << int(ConnectionWork::ForbiddenError);
    QTest::newRow("NOPREMIUM") << QByteArray("NOPREMIUM") << int(ConnectionWork::ForbiddenError);
    QTest::newRow("FULL") << QByteArray("FULL") << int(ConnectionWork::FullError);
    QTest::newRow("SATURATED") << QByteArray("SATURATED") << int(ConnectionWork::SaturatedError);
    QTest::newRow("ok in lower case") << QByteArray("ok") << int(ConnectionWork::ServerError);
}

void TestConnectionWork::refusals()
{
    QFETCH(QByteArray, code);
    TestHttpServer server;
    QVERIFY(server.start());
    server.useAsMainServer();
    if (code.isEmpty())
        server.setBehaviour(TestHttpServer::Drop);
    server.setAnswer("connection", "<nimbora><code>" + code + "</code></nimbora>");

    ConnectionWork work;
    work.setServer({ { "id", 12 }, { "address", "198.18.0.11" }, { "name", "Paris" } });
    QSignalSpy errors(&work, &ConnectionWork::error);
    QSignalSpy logs(&work, &ConnectionWork::log);
    QSignalSpy disconnected(&work, &ConnectionWork::disconnected);
    work.start();
    QVERIFY(disconnected.wait(15000));
    QCOMPARE(errors.size(), 1);
    QTEST(int(errors.first().first().value<ConnectionWork::Error>()), "error");
    QCOMPARE(logs.size(), 0);
    QVERIFY(!server.requests().isEmpty());
    QCOMPARE(server.requests().first().requestLine,
        QByteArray("GET /client/connection?session=0123%26456&server_id=12 HTTP/1.1"));
}

void TestConnectionWork::runs_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("action"); // "stop" once connected, "stop early", "none"
    QTest::addColumn<bool>("socksPortTaken");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("blockedBefore"); // a drop's block stands when the run starts
    QTest::addColumn<bool>("blockedAfter");

    const QString tunnelUp
        = "connect|print LZO compression initialized\\n"
          "|print PUSH: Received control message: 'PUSH_REPLY,route-gateway 198.19.1.1,dhcp-option DNS 198.19.1.1'\\n"
          "|print Initialization Sequence Completed\\n";
    const QStringList connectedThenStopped { "progress 10", "progress 20", "progress 28", "progress 60", "progress 60",
        "progress 70", "progress 80", "progress 90", "progress 100", "connected", "progress 0", "disconnected" };

    const QString lo = QStringLiteral("lo");
    QTest::newRow("stop while connected ends without error")
        << tunnelUp + "|serve"
        << "stop" << false << lo << connectedThenStopped << false << false;
    // The wait for the tunnel goes on, and the run tears down as soon as the tunnel is up.
    QTest::newRow("a stop while OpenVPN starts tears down")
        << tunnelUp + "|serve"
        << "stop early" << false << lo << connectedThenStopped.mid(0, 4) + QStringList { "progress 0", "disconnected" }
        << false << false;
    QTest::newRow("tunnel lost") << tunnelUp + "|exit 1"
                                 << "none" << false << lo
                                 << connectedThenStopped.mid(0, 10)
            + QStringList { "error 10", "progress 0", "disconnected" }
                                 << false << true;
    QTest::newRow("tunnel never up within the wait")
        << "connect|serve"
        << "none" << false << lo << QStringList { "progress 10", "progress 20", "progress 0", "disconnected" } << false
        << false;
    QTest::newRow("VPN adapter missing") << tunnelUp + "|serve"
                                         << "none" << false << "NoSuchAdapter"
                                         << connectedThenStopped.mid(0, 5)
            + QStringList { "progress 0", "disconnected" }
                                         << false << false;
    QTest::newRow("SOCKS port taken") << tunnelUp + "|serve"
                                      << "none" << true << lo
                                      << connectedThenStopped.mid(0, 7)
            + QStringList { "error 9", "progress 0", "disconnected" }
                                      << false << false;
    // The user's stop lifts a drop's block; a failed reconnection leaves it.
    QTest::newRow("a stop lifts a drop's block") << tunnelUp + "|serve"
                                                 << "stop" << false << lo << connectedThenStopped << true << false;
    QTest::newRow("a drop's block stays through a failed reconnection")
        << "connect|serve"
        << "none" << false << lo << QStringList { "progress 10", "progress 20", "progress 0", "disconnected" } << true
        << true;
}

void TestConnectionWork::runs()
{
    if (!privateNetwork)
        QSKIP("needs root for a network namespace of its own");
    QFETCH(QString, steps);
    QFETCH(QString, action);
    QFETCH(bool, socksPortTaken);
    QFETCH(QString, adapter);
    QFETCH(bool, blockedBefore);
    GlobalValues::setValue(GlobalValues::Interface, adapter);
    KillSwitch killSwitch(StateDirectory::blockPath());
    QString reason;
    if (blockedBefore) {
        KillSwitchRules rules;
        rules.vpnAdapter = adapter;
        QVERIFY2(killSwitch.apply(rules, &reason), qPrintable(reason));
    }
    const auto unblocked = qScopeGuard([&killSwitch] {
        QString ignored;
        killSwitch.lift(&ignored);
    });

    FakeNetworkSystem system(NetworkSystem::Linux);
    for (const QString &text : Table)
        system.table << row(text);
    system.resolverFile = "nameserver 198.18.0.53\n";
    TestHttpServer server;
    QVERIFY(server.start());
    server.useAsMainServer();
    server.setAnswer("connection", "<nimbora><code>OK</code></nimbora>");
    QTcpServer socksPortHolder;
    QVERIFY(socksPortHolder.listen(QHostAddress::LocalHost, 0));
    QSettings settings;
    settings.setValue(SettingsKeys::DnsServer, false);
    settings.setValue(SettingsKeys::DisableSystemProxy, false);
    settings.setValue(SettingsKeys::SocksServer, socksPortTaken);
    settings.setValue(SettingsKeys::SocksServerPort, socksPortHolder.serverPort());
    settings.setValue(QStringLiteral("options/network/exceptions/0"), QStringList { "Site", "http://198.18.0.20/x" });
    settings.sync();
    QVERIFY(m_fake.setSteps(steps));

    ConnectionWork work;
    work.setServer({ { "id", 11 }, { "address", "198.18.0.11" }, { "name", "Paris" } });
    work.setProtocol(ConnectionWork::OpenVpnProtocol);
    work.setTunnelWaitTime(1);
    QStringList events;
    QStringList logs;
    connect(
        &work, &ConnectionWork::progressChanged, this, [&](int value) { events << QString("progress %1").arg(value); });
    connect(&work, &ConnectionWork::error, this,
        [&](ConnectionWork::Error error) { events << QString("error %1").arg(error); });
    connect(&work, &ConnectionWork::openvpnError, this,
        [&](OpenVPN::Error error) { events << QString("openvpn error %1").arg(error); });
    connect(&work, &ConnectionWork::connected, this, [&] { events << "connected"; });
    connect(&work, &ConnectionWork::disconnected, this, [&] { events << "disconnected"; });
    // Every chunk of the stand-in waits for a go; a stop asked early goes before the tunnel is up.
    connect(&work, &ConnectionWork::log, this, [&](const QString &line) {
        logs << line;
        if (line.startsWith(QStringLiteral(FAKE_OPENVPN)) && action == "stop early")
            work.stop();
        if (line.contains(QLatin1String("PUSH:")) || line.contains(QLatin1String("LZO"))
            || line.contains(QLatin1String("Initialization")))
            QVERIFY(m_fake.go());
    });
    connect(&work, &ConnectionWork::connected, this, [&] {
        if (action.startsWith(QLatin1String("stop")))
            work.stop();
    });
    work.start();
    QTRY_VERIFY_WITH_TIMEOUT(events.contains("disconnected"), 30000);
    QVERIFY(work.wait(5000));

    QTEST(events, "events");
    QTEST(work.isTrafficBlocked(), "blockedAfter");
    QTEST(killSwitch.isInPlace(), "blockedAfter");
    // The header, exactly.
    QCOMPARE(logs.mid(0, 5),
        QStringList({ "Nimbora version " + QCoreApplication::applicationVersion(), "----------------------------------",
            "Server: Paris", "Protocol: OpenVPN", "----------------------------------" }));
    // Whatever was added is gone again, whatever was deleted is back.
    QStringList created = rowTexts(system.created);
    QStringList deleted = rowTexts(system.deleted);
    std::sort(created.begin(), created.end());
    std::sort(deleted.begin(), deleted.end());
    QCOMPARE(created, deleted);
    if (events.contains("connected") && !socksPortTaken) {
        QCOMPARE(rowTexts(system.created),
            QStringList({ "198.18.0.53 255.255.255.255 198.18.1.1 1", "198.18.0.11 255.255.255.255 198.18.1.1 1",
                "0.0.0.0 128.0.0.0 198.19.1.1 1", "128.0.0.0 128.0.0.0 198.19.1.1 1",
                "198.18.0.20 255.255.255.255 198.18.1.1 1" }));
        QVERIFY(logs.contains("IPv4 routing table :"));
        QVERIFY(logs.contains("0.0.0.0 0.0.0.0 198.18.1.1 127.0.0.1 0"));
    } else {
        QVERIFY(system.created.isEmpty());
    }
    QCOMPARE(logs.contains("The virtual interface is not valid!"), adapter != QLatin1String("lo"));
}

NIMBORA_TEST_MAIN(TestConnectionWork, QCoreApplication)

#include "tst_connectionwork.moc"
