#include "privileged/killswitch.h"

#include "tests/support/commands.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// The kill switch against the kernel: the test runs in a network namespace of its own, with a
// veth link to a peer namespace that listens on two ports. Nothing of the machine's own firewall
// or routes is touched.
namespace {

const bool privateNetwork = PrivateNetwork::enter();

// Links of this namespace come up with their addresses usable at once.
bool skipDuplicateAddressDetection()
{
    QFile setting(QStringLiteral("/proc/sys/net/ipv6/conf/default/accept_dad"));
    return setting.open(QIODevice::WriteOnly) && setting.write("0") == 1;
}

const QString PeerAddress = QStringLiteral("198.18.70.2");
const QString PeerIPv6Address = QStringLiteral("2001:db8:70::2");
constexpr quint16 EndpointPort = 4431;
constexpr quint16 OtherPort = 8080;

QString ruleset()
{
    return runCommand(QStringLiteral("nft"), { QStringLiteral("list"), QStringLiteral("ruleset") });
}

QString ipv6Routes()
{
    return runCommand(QStringLiteral("ip"),
        { QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("show"), QStringLiteral("table"),
            QStringLiteral("all") });
}

// The socket error of a connection attempt, or UnknownSocketError when it connected.
QAbstractSocket::SocketError connectTo(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), port);
    // A refusal comes back at once; a silently dropped packet would run out this limit.
    if (socket.waitForConnected(1000))
        return QAbstractSocket::UnknownSocketError;
    return socket.error();
}

KillSwitchRules endpointRules(quint16 port)
{
    KillSwitchRules rules;
    rules.vpnAdapter = QStringLiteral("nimtun");
    rules.endpoints << KillSwitchRules::Endpoint { QHostAddress(PeerAddress), port };
    return rules;
}

} // namespace

class TestKillSwitch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void refusesAtOnceButTheEndpoint();
    void applyReplacesAndLiftLeavesNothing();
    void repairPutsBackWhatWentMissing();
    void recordOfAnEarlierBootIsForgotten();
    void plantedLinkIsNotFollowed();

private:
    QString recordPath() const { return m_folder.filePath(QStringLiteral("block")); }

    QTemporaryDir m_folder;
    int m_peer = -1;
    QList<int> m_listeners;
};

void TestKillSwitch::initTestCase()
{
    if (!privateNetwork)
        QSKIP("needs root: the firewall tests run in a network namespace of their own (unshare)");
    QVERIFY(m_folder.isValid());
    QVERIFY(ip("link set lo up"));
    QVERIFY(skipDuplicateAddressDetection());
    // The peer's namespace lives as long as this descriptor.
    std::thread([this] {
        if (unshare(CLONE_NEWNET) == 0 && skipDuplicateAddressDetection())
            m_peer = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    }).join();
    QVERIFY(m_peer >= 0);
    const QString peer = QStringLiteral("/proc/%1/fd/%2").arg(getpid()).arg(m_peer);
    const auto inPeer = [&peer](const QString &arguments) {
        bool ok = false;
        runCommand(QStringLiteral("nsenter"),
            QStringList { QStringLiteral("--net=") + peer, QStringLiteral("ip") } + arguments.split(QLatin1Char(' ')),
            &ok);
        return ok;
    };
    QVERIFY(ip(QStringLiteral("link add nimk0 address 02:00:00:00:70:01 type veth peer name nimk1 address "
                              "02:00:00:00:70:02 netns ")
        + peer));
    QVERIFY(ip("addr add 198.18.70.1/24 dev nimk0"));
    QVERIFY(ip("addr add 2001:db8:70::1/64 dev nimk0 nodad"));
    QVERIFY(ip("link set nimk0 up"));
    QVERIFY(inPeer(QStringLiteral("addr add %1/24 dev nimk1").arg(PeerAddress)));
    QVERIFY(inPeer(QStringLiteral("addr add %1/64 dev nimk1 nodad").arg(PeerIPv6Address)));
    QVERIFY(inPeer(QStringLiteral("link set nimk1 up")));
    // Neighbour discovery on a link just up loses its first solicitation: known neighbours instead.
    QVERIFY(ip(
        QStringLiteral("-6 neigh replace %1 lladdr 02:00:00:00:70:02 dev nimk0 nud permanent").arg(PeerIPv6Address)));
    QVERIFY(inPeer(QStringLiteral("-6 neigh replace 2001:db8:70::1 lladdr 02:00:00:00:70:01 dev nimk1 nud permanent")));

    // Listening in the peer: the kernel there completes a connection without anyone accepting it.
    std::thread([this] {
        if (setns(m_peer, CLONE_NEWNET) != 0)
            return;
        for (const quint16 port : { EndpointPort, OtherPort }) {
            const int listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int no = 0;
            setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
            sockaddr_in6 address = {};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(port);
            address.sin6_addr = in6addr_any;
            if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
                && listen(listener, 16) == 0)
                m_listeners << listener;
        }
    }).join();
    QCOMPARE(m_listeners.size(), 2);
    // Both ports answer without a block: a refusal later is the firewall's.
    QCOMPARE(connectTo(PeerAddress, OtherPort), QAbstractSocket::UnknownSocketError);
    QCOMPARE(connectTo(PeerIPv6Address, OtherPort), QAbstractSocket::UnknownSocketError);
}

void TestKillSwitch::cleanupTestCase()
{
    for (const int listener : qAsConst(m_listeners))
        close(listener);
    if (m_peer >= 0)
        close(m_peer);
}

void TestKillSwitch::cleanup()
{
    QString ignored;
    KillSwitch(recordPath()).lift(&ignored);
    QFile::remove(recordPath());
}

void TestKillSwitch::refusesAtOnceButTheEndpoint()
{
    KillSwitch killSwitch(recordPath());
    QString error;
    QVERIFY2(killSwitch.apply(endpointRules(EndpointPort), &error), qPrintable(error));
    QVERIFY(killSwitch.isInPlace());
    QVERIFY(ruleset().contains(QLatin1String("table inet nimbora")));
    QCOMPARE(connectTo(PeerAddress, EndpointPort), QAbstractSocket::UnknownSocketError);
    QCOMPARE(connectTo(PeerAddress, OtherPort), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(connectTo(PeerIPv6Address, OtherPort), QAbstractSocket::ConnectionRefusedError);
    // Beyond the link, the unreachable routes win over a default route: no packet is even made.
    QVERIFY(ip("-6 route add default via 2001:db8:70::2"));
    QCOMPARE(connectTo(QStringLiteral("2001:db8:99::2"), OtherPort), QAbstractSocket::NetworkError);
    QVERIFY(ip("-6 route del default via 2001:db8:70::2"));
}

void TestKillSwitch::applyReplacesAndLiftLeavesNothing()
{
    // Another program's route of the same prefix is not ours to remove.
    QVERIFY(ip("-6 route add blackhole ::/1 metric 5"));
    const QString rulesetBefore = ruleset();
    const QString routesBefore = ipv6Routes();

    KillSwitch killSwitch(recordPath());
    QString error;
    QVERIFY2(killSwitch.apply(endpointRules(EndpointPort), &error), qPrintable(error));
    const KillSwitchRules replacement = endpointRules(OtherPort);
    QVERIFY2(killSwitch.apply(replacement, &error), qPrintable(error));
    QCOMPARE(ruleset().count(QLatin1String("table inet nimbora")), 1);
    QCOMPARE(killSwitch.rules(), replacement);
    QCOMPARE(connectTo(PeerAddress, OtherPort), QAbstractSocket::UnknownSocketError);
    QCOMPARE(connectTo(PeerAddress, EndpointPort), QAbstractSocket::ConnectionRefusedError);

    QVERIFY2(killSwitch.lift(&error), qPrintable(error));
    QVERIFY(!killSwitch.isInPlace());
    QVERIFY(!QFile::exists(recordPath()));
    QCOMPARE(ruleset(), rulesetBefore);
    QCOMPARE(ipv6Routes(), routesBefore);
    QVERIFY(ip("-6 route del blackhole ::/1 metric 5"));
}

void TestKillSwitch::repairPutsBackWhatWentMissing()
{
    KillSwitch killSwitch(recordPath());
    QString error;
    QVERIFY2(killSwitch.apply(endpointRules(EndpointPort), &error), qPrintable(error));
    const QString rulesetInPlace = ruleset();
    const QString routesInPlace = ipv6Routes();

    // Another program empties a chain and takes a route.
    runCommand(QStringLiteral("nft"),
        { QStringLiteral("flush"), QStringLiteral("chain"), QStringLiteral("inet"), QStringLiteral("nimbora"),
            QStringLiteral("output") });
    QVERIFY(ip("-6 route del unreachable ::/1"));
    QCOMPARE(connectTo(PeerAddress, OtherPort), QAbstractSocket::UnknownSocketError);
    QVERIFY2(killSwitch.repair(&error), qPrintable(error));
    QCOMPARE(ruleset(), rulesetInPlace);
    QCOMPARE(ipv6Routes(), routesInPlace);

    runCommand(QStringLiteral("nft"), { QStringLiteral("flush"), QStringLiteral("ruleset") });
    QVERIFY2(killSwitch.repair(&error), qPrintable(error));
    QCOMPARE(ruleset(), rulesetInPlace);
    QCOMPARE(connectTo(PeerAddress, OtherPort), QAbstractSocket::ConnectionRefusedError);
}

void TestKillSwitch::recordOfAnEarlierBootIsForgotten()
{
    KillSwitch killSwitch(recordPath());
    QString error;
    QVERIFY2(killSwitch.apply(endpointRules(EndpointPort), &error), qPrintable(error));
    QVERIFY(KillSwitch::forgetEarlierBoot(recordPath()).isEmpty());
    QVERIFY(killSwitch.isInPlace());

    QFile bootFile(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    QVERIFY(bootFile.open(QIODevice::ReadOnly));
    const QByteArray boot = bootFile.readAll().trimmed();
    QFile record(recordPath());
    QVERIFY(record.open(QIODevice::ReadOnly));
    QByteArray contents = record.readAll();
    record.close();
    QVERIFY(contents.contains(boot));
    contents.replace(boot, "0d1f6a3e-2b4c-4e8a-9f10-5a6b7c8d9e0f");
    QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
    record.write(contents);
    record.close();

    QVERIFY(!killSwitch.isInPlace());
    QCOMPARE(KillSwitch::forgetEarlierBoot(recordPath()).size(), 1);
    QVERIFY(!QFile::exists(recordPath()));
    // Only the record: after a real restart the kernel holds nothing of it.
    QVERIFY(ruleset().contains(QLatin1String("table inet nimbora")));
}

void TestKillSwitch::plantedLinkIsNotFollowed()
{
    // Someone puts a link where the record goes, to have root write over another file, or to have
    // a forged record read as the block in place.
    const QString target = m_folder.filePath(QStringLiteral("target"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("untouched");
    file.close();
    QVERIFY(QFile::link(target, recordPath()));

    KillSwitch killSwitch(recordPath());
    QString error;
    QVERIFY(!killSwitch.apply(endpointRules(EndpointPort), &error));
    QVERIFY2(error.contains(QLatin1String("link")), qPrintable(error));
    QVERIFY(QFileInfo(recordPath()).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("untouched"));
    file.close();
    QVERIFY(!ruleset().contains(QLatin1String("table inet nimbora")));

    // A well-formed record behind the link is not read either.
    QVERIFY(QFile::remove(recordPath()));
    QVERIFY2(killSwitch.apply(endpointRules(EndpointPort), &error), qPrintable(error));
    QVERIFY(QFile::remove(target) && QFile::rename(recordPath(), target) && QFile::link(target, recordPath()));
    QVERIFY(!killSwitch.isInPlace());
    QVERIFY(!killSwitch.repair(&error));
    QVERIFY2(error.contains(QLatin1String("link")), qPrintable(error));
}

NIMBORA_TEST_MAIN(TestKillSwitch, QCoreApplication)
#include "tst_killswitch.moc"
