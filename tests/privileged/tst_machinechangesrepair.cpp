#include "privileged/machinechanges.h"
#include "netconfig/networkconfiguration.h"

#include "tests/support/commands.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>

// A connection's routes and resolver after the network changed under it, against the kernel in
// network and mount namespaces of the test's own.
namespace {

// Made before the first thread starts: the links, routes and resolver file vanish with the process.
const bool privateNetwork = PrivateNetwork::enter();
const bool privateMounts
    = privateNetwork && unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

const QString Endpoint = QStringLiteral("198.18.80.11");

NetworkAdapter adapterNamed(const QString &name)
{
    return NetworkAdapter(QNetworkInterface::interfaceFromName(name));
}

// "destination mask gateway adapter"
Route route(const QString &text)
{
    const QStringList words = text.split(QLatin1Char(' '));
    Route route;
    route.destination = QHostAddress(words.at(0));
    route.mask = QHostAddress(words.at(1));
    route.gateway = QHostAddress(words.at(2));
    route.adapter = adapterNamed(words.at(3));
    return route;
}

// "gateway adapter" of each route of the table to that destination and mask.
QStringList waysTo(const QString &destination, const QString &mask)
{
    QStringList ways;
    const QList<Route> table = routingTable();
    for (const Route &route : table) {
        if (route.destination == QHostAddress(destination) && route.mask == QHostAddress(mask))
            ways << route.gateway.toString() + QLatin1Char(' ') + route.adapter.networkInterface().name();
    }
    return ways;
}

} // namespace

class TestMachineChangesRepair : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void routesRepaired_data();
    void routesRepaired();
    void resolverPutBack();

private:
    QTemporaryDir m_folder;
};

// A physical adapter with the default route, the VPN's, and another physical one to move to.
void TestMachineChangesRepair::init()
{
    if (!privateNetwork)
        QSKIP("needs root: the routes are changed in a network namespace of the test's own (unshare)");
    QVERIFY(m_folder.isValid());
    QVERIFY(ip(QStringLiteral("link set lo up")));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(ip(QStringLiteral("link add nimr%1 type veth peer name nimp%1").arg(i)));
        QVERIFY(ip(QStringLiteral("addr add 198.18.7%1.1/24 dev nimr%1").arg(i)));
        QVERIFY(ip(QStringLiteral("link set nimp%1 up").arg(i)));
        QVERIFY(ip(QStringLiteral("link set nimr%1 up").arg(i)));
    }
    QVERIFY(ip(QStringLiteral("route add default via 198.18.70.254 dev nimr0")));
}

void TestMachineChangesRepair::cleanup()
{
    if (!privateNetwork)
        return;
    for (int i = 0; i < 3; ++i)
        ip(QStringLiteral("link del nimr%1").arg(i));
}

void TestMachineChangesRepair::routesRepaired_data()
{
    QTest::addColumn<QString>("someoneElse"); // ip commands, ";" apart
    QTest::addColumn<QString>("endpoint"); // empty: unknown, as behind a local transport
    QTest::addColumn<QStringList>("endpointWay"); // after the repair
    QTest::addColumn<bool>("pathChanged");

    const QStringList unchanged { QStringLiteral("198.18.70.254 nimr0") };
    QTest::newRow("nothing changed") << QString() << Endpoint << unchanged << false;
    QTest::newRow("endpoint route deleted by another program")
        << QStringLiteral("route del 198.18.80.11/32") << Endpoint << unchanged << true;
    QTest::newRow("endpoint route deleted, endpoint unknown")
        << QStringLiteral("route del 198.18.80.11/32") << QString() << unchanged << true;
    QTest::newRow("half of the VPN's default deleted")
        << QStringLiteral("route del 0.0.0.0/1") << Endpoint << unchanged << false;
    QTest::newRow("another network on the same adapter")
        << QStringLiteral("addr flush dev nimr0;addr add 198.18.73.1/24 dev nimr0;route add default via 198.18.73.254")
        << Endpoint << QStringList { QStringLiteral("198.18.73.254 nimr0") } << true;
    QTest::newRow("another adapter")
        << QStringLiteral("link set nimr0 down;route add default via 198.18.72.254 dev nimr2") << Endpoint
        << QStringList { QStringLiteral("198.18.72.254 nimr2") } << true;
    // Tried again at the next change.
    QTest::newRow("no way out yet") << QStringLiteral("link set nimr0 down") << Endpoint << QStringList() << false;
}

void TestMachineChangesRepair::routesRepaired()
{
    QFETCH(QString, someoneElse);
    QFETCH(QString, endpoint);
    QFETCH(QStringList, endpointWay);
    QFETCH(bool, pathChanged);

    const QString journalPath = m_folder.filePath(QStringLiteral("undo-journal"));
    QStringList logs; // outlives the changes, whose end may log
    MachineChanges changes(journalPath);
    connect(&changes, &MachineChanges::log, this, [&logs](const QString &line) { logs << line; });
    changes.changeRoutes({},
        { route(Endpoint + QStringLiteral(" 255.255.255.255 198.18.70.254 nimr0")),
            route(QStringLiteral("0.0.0.0 128.0.0.0 198.18.71.254 nimr1")),
            route(QStringLiteral("128.0.0.0 128.0.0.0 198.18.71.254 nimr1")) });
    QVERIFY(logs.isEmpty());
    const QStringList commands = someoneElse.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &command : commands)
        QVERIFY(ip(command));

    QCOMPARE(changes.repair(adapterNamed(QStringLiteral("nimr1")), QHostAddress(endpoint)), pathChanged);
    QCOMPARE(waysTo(Endpoint, QStringLiteral("255.255.255.255")), endpointWay);
    QCOMPARE(waysTo(QStringLiteral("0.0.0.0"), QStringLiteral("128.0.0.0")), QStringList { "198.18.71.254 nimr1" });
    QCOMPARE(waysTo(QStringLiteral("128.0.0.0"), QStringLiteral("128.0.0.0")), QStringList { "198.18.71.254 nimr1" });
    QCOMPARE(logs.isEmpty(), someoneElse.isEmpty());
    for (const QString &line : qAsConst(logs))
        QVERIFY2(line.startsWith(QLatin1String("Network change: route ")), qPrintable(line));
    // Once repaired, a later change of nothing does nothing.
    if (!endpointWay.isEmpty()) {
        logs.clear();
        QVERIFY(!changes.repair(adapterNamed(QStringLiteral("nimr1")), QHostAddress(endpoint)));
        QVERIFY2(logs.isEmpty(), qPrintable(logs.join(QLatin1Char('\n'))));
    }

    // The disconnection takes away what the repair put in place, and the journal with it.
    changes.undo();
    QCOMPARE(waysTo(Endpoint, QStringLiteral("255.255.255.255")), QStringList());
    QCOMPARE(waysTo(QStringLiteral("0.0.0.0"), QStringLiteral("128.0.0.0")), QStringList());
    QVERIFY(!QFile::exists(journalPath));
}

// A new lease rewrote the resolver file while connected: ours is put back, and theirs is the one
// that comes back at the end.
void TestMachineChangesRepair::resolverPutBack()
{
    if (!privateMounts)
        QSKIP("no mount namespace of its own here");
    qputenv("NIMBORA_RESOLVER_METHOD", "file");
    ResolverSwitch::setStateFolder(m_folder.path());
    const QString resolverPath = m_folder.filePath(QStringLiteral("resolv.conf"));
    QFile resolver(resolverPath);
    QVERIFY(resolver.open(QIODevice::WriteOnly));
    resolver.write("nameserver 198.18.70.53\n");
    resolver.close();
    QVERIFY2(mount(QFile::encodeName(resolverPath).constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0,
        "cannot mount over /etc/resolv.conf");
    const auto contents = [] {
        QFile file(QStringLiteral("/etc/resolv.conf"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    QStringList logs;
    MachineChanges changes(m_folder.filePath(QStringLiteral("undo-journal")));
    connect(&changes, &MachineChanges::log, this, [&logs](const QString &line) { logs << line; });
    changes.useNameServers(adapterNamed(QStringLiteral("nimr1")), { QHostAddress(QStringLiteral("198.19.1.53")) });
    const QByteArray ours = contents();
    QVERIFY(ours.contains("nameserver 198.19.1.53\n"));
    QVERIFY(!changes.repair(adapterNamed(QStringLiteral("nimr1")), QHostAddress(Endpoint)));
    QCOMPARE(logs, QStringList());
    QCOMPARE(contents(), ours);

    QFile lease(QStringLiteral("/etc/resolv.conf"));
    QVERIFY(lease.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lease.write("nameserver 198.18.73.53\n");
    lease.close();
    changes.repair(adapterNamed(QStringLiteral("nimr1")), QHostAddress(Endpoint));
    QCOMPARE(logs, QStringList { "Network change: name servers put back" });
    QVERIFY(contents().contains("nameserver 198.19.1.53\n"));

    changes.undo();
    QCOMPARE(contents(), QByteArray("nameserver 198.18.73.53\n"));
    umount("/etc/resolv.conf");
    qunsetenv("NIMBORA_RESOLVER_METHOD");
}

NIMBORA_TEST_MAIN(TestMachineChangesRepair, QCoreApplication)
#include "tst_machinechangesrepair.moc"
