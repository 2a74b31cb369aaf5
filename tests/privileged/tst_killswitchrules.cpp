#include "privileged/killswitchrules.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>

#include <unistd.h>

Q_DECLARE_METATYPE(KillSwitchRules)
Q_DECLARE_METATYPE(KillSwitchRules::Packet)

// What passes the kill switch, decided once for both firewalls: the decisions against packets,
// the nftables script against nft's own parser, the Windows plan against the same packets.
namespace {

using Family = KillSwitchRules::Family;
using Packet = KillSwitchRules::Packet;
using Protocol = KillSwitchRules::Protocol;

KillSwitchRules typicalRules()
{
    KillSwitchRules rules;
    rules.vpnAdapter = QStringLiteral("Nimbora");
    rules.endpoints << KillSwitchRules::Endpoint { QHostAddress(QStringLiteral("198.19.1.2")), 443 }
                    << KillSwitchRules::Endpoint { QHostAddress(QStringLiteral("2001:db8:5::8")), 3128 };
    rules.nameServers << QHostAddress(QStringLiteral("198.18.0.53"));
    rules.exceptions << KillSwitchRules::Subnet(QHostAddress(QStringLiteral("198.18.8.0")), 24);
    rules.socksAddress = QHostAddress(QStringLiteral("198.18.0.10"));
    rules.socksUser = 1000;
    return rules;
}

// "tcp 198.19.1.2:443", "udp [2001:db8::1]:53", "icmpv6 2001:db8::1 135", leaving by the adapter given.
Packet packet(const QString &text, const QString &adapter = QStringLiteral("eth0"))
{
    const QStringList words = text.split(QLatin1Char(' '));
    Packet packet;
    packet.adapter = adapter;
    packet.loopback = adapter == QLatin1String("lo");
    const QString protocol = words.at(0);
    packet.protocol = protocol == QLatin1String("tcp")
        ? Protocol::Tcp
        : (protocol == QLatin1String("udp") ? Protocol::Udp : Protocol::IcmpV6);
    if (packet.protocol == Protocol::IcmpV6) {
        packet.destination = QHostAddress(words.at(1));
        packet.icmpType = words.at(2).toInt();
    } else {
        const int colon = words.at(1).lastIndexOf(QLatin1Char(':'));
        QString address = words.at(1).left(colon);
        address.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        packet.destination = QHostAddress(address);
        packet.destinationPort = quint16(words.at(1).mid(colon + 1).toUInt());
        packet.sourcePort = 40000;
    }
    packet.user = 1001;
    return packet;
}

Packet fromSocks(const QString &text, const QString &source, qint64 user, const QString &program = QString())
{
    Packet sent = packet(text);
    sent.source = QHostAddress(source);
    sent.user = user;
    sent.program = program;
    return sent;
}

bool conditionsHold(const KillSwitchRules::Allow &conditions, const Packet &packet, const QString &vpnAdapter)
{
    if ((conditions.way == KillSwitchRules::Way::Loopback && !packet.loopback)
        || (conditions.way == KillSwitchRules::Way::VpnAdapter && packet.adapter != vpnAdapter))
        return false;
    if (conditions.protocol != Protocol::Any && conditions.protocol != packet.protocol)
        return false;
    if (!conditions.remote.first.isNull()
        && !packet.destination.isInSubnet(conditions.remote.first, conditions.remote.second))
        return false;
    if ((conditions.remotePort && conditions.remotePort != packet.destinationPort)
        || (conditions.localPort && conditions.localPort != packet.sourcePort))
        return false;
    if (conditions.icmpTypeLast
        && (packet.icmpType < conditions.icmpTypeFirst || packet.icmpType > conditions.icmpTypeLast))
        return false;
    if (!conditions.localAddress.isNull() && conditions.localAddress != packet.source)
        return false;
    return conditions.program.isEmpty() || conditions.program == packet.program;
}

// The filter engine's arbitration within one sublayer: the heaviest matching filter decides;
// none matching lets the packet through.
bool windowsLets(const QList<KillSwitchRules::WindowsFilter> &plan, const Packet &packet, const QString &vpnAdapter)
{
    const Family layer = packet.destination.protocol() == QAbstractSocket::IPv4Protocol ? Family::IPv4 : Family::IPv6;
    QList<KillSwitchRules::WindowsFilter> filters = plan;
    std::stable_sort(filters.begin(), filters.end(),
        [](const KillSwitchRules::WindowsFilter &a, const KillSwitchRules::WindowsFilter &b) {
            return a.weight > b.weight;
        });
    for (const KillSwitchRules::WindowsFilter &filter : qAsConst(filters)) {
        if (filter.layer == layer && conditionsHold(filter.conditions, packet, vpnAdapter))
            return filter.permit;
    }
    return true;
}

} // namespace

class TestKillSwitchRules : public QObject
{
    Q_OBJECT

private slots:
    void passes_data();
    void passes();
    void invalidValuesWriteNoScript_data();
    void invalidValuesWriteNoScript();
    void scriptAcceptedByNft_data();
    void scriptAcceptedByNft();
    void windowsPlanDecidesAlike_data();
    void windowsPlanDecidesAlike();
};

void TestKillSwitchRules::passes_data()
{
    QTest::addColumn<KillSwitchRules>("rules");
    QTest::addColumn<Packet>("packet");
    QTest::addColumn<bool>("passes");

    const KillSwitchRules rules = typicalRules();
    QTest::newRow("endpoint") << rules << packet("tcp 198.19.1.2:443") << true;
    QTest::newRow("endpoint, mapped address") << rules << packet("tcp [::ffff:198.19.1.2]:443") << true;
    QTest::newRow("endpoint, other port") << rules << packet("tcp 198.19.1.2:80") << false;
    QTest::newRow("endpoint port over udp") << rules << packet("udp 198.19.1.2:443") << false;
    QTest::newRow("IPv6 proxy") << rules << packet("tcp [2001:db8:5::8]:3128") << true;
    QTest::newRow("name server, udp") << rules << packet("udp 198.18.0.53:53") << true;
    QTest::newRow("name server, tcp") << rules << packet("tcp 198.18.0.53:53") << true;
    QTest::newRow("name server, other port") << rules << packet("udp 198.18.0.53:123") << false;
    QTest::newRow("unlisted name server") << rules << packet("udp 198.18.0.54:53") << false;
    QTest::newRow("exception, first") << rules << packet("tcp 198.18.8.0:22") << true;
    QTest::newRow("exception, last") << rules << packet("udp 198.18.8.255:9") << true;
    QTest::newRow("before the exception") << rules << packet("tcp 198.18.7.255:22") << false;
    QTest::newRow("after the exception") << rules << packet("tcp 198.18.9.0:22") << false;
    QTest::newRow("local network, not allowed") << rules << packet("tcp 192.168.1.20:445") << false;
    KillSwitchRules local = rules;
    local.allowLocalNetwork = true;
    QTest::newRow("local network, allowed") << local << packet("tcp 192.168.1.20:445") << true;
    QTest::newRow("172.16/12, last") << local << packet("udp 172.31.255.255:5353") << true;
    QTest::newRow("172.32 is not local") << local << packet("udp 172.32.0.1:5353") << false;
    QTest::newRow("unique local IPv6, allowed") << local << packet("tcp [fd00::7]:445") << true;
    QTest::newRow("public, local network allowed") << local << packet("tcp 198.51.100.1:80") << false;
    QTest::newRow("SOCKS way out") << rules << fromSocks("tcp 198.51.100.1:80", "198.18.0.10", 1000) << true;
    QTest::newRow("SOCKS address, other user")
        << rules << fromSocks("tcp 198.51.100.1:80", "198.18.0.10", 1001) << false;
    QTest::newRow("SOCKS user, other address")
        << rules << fromSocks("tcp 198.51.100.1:80", "198.18.0.11", 1000) << false;
    KillSwitchRules nobody = rules;
    nobody.socksUser = -1;
    QTest::newRow("SOCKS address without its user")
        << nobody << fromSocks("tcp 198.51.100.1:80", "198.18.0.10", 1001) << false;
    QTest::newRow("IPv6 global") << rules << packet("tcp [2001:db8:9::1]:443") << false;
    QTest::newRow("IPv6 link-local") << rules << packet("udp [fe80::1]:5353") << true;
    QTest::newRow("IPv6 all nodes") << rules << packet("udp [ff02::1]:9") << true;
    QTest::newRow("IPv6 site multicast") << rules << packet("udp [ff05::2]:9") << false;
    QTest::newRow("neighbour solicitation") << rules << packet("icmpv6 2001:db8:9::1 135") << true;
    QTest::newRow("redirect") << rules << packet("icmpv6 2001:db8:9::1 137") << true;
    QTest::newRow("IPv6 echo") << rules << packet("icmpv6 2001:db8:9::1 128") << false;
    QTest::newRow("IPv6 loopback") << rules << packet("tcp [::1]:8080", QStringLiteral("lo")) << true;
    QTest::newRow("IPv4 loopback") << rules << packet("tcp 127.0.0.1:8080", QStringLiteral("lo")) << true;
    Packet dhcp = packet("udp 255.255.255.255:67");
    dhcp.sourcePort = 68;
    QTest::newRow("DHCP") << rules << dhcp << true;
    QTest::newRow("DHCP port from another") << rules << packet("udp 255.255.255.255:67") << false;
    Packet dhcp6 = packet("udp [ff02::1:2]:547");
    dhcp6.sourcePort = 546;
    QTest::newRow("DHCPv6") << rules << dhcp6 << true;
    QTest::newRow("VPN adapter, IPv4") << rules << packet("tcp 198.51.100.1:80", QStringLiteral("Nimbora")) << true;
    QTest::newRow("VPN adapter, IPv6") << rules << packet("tcp [2001:db8:9::1]:80", QStringLiteral("Nimbora")) << true;
    QTest::newRow("adapter of a like name")
        << rules << packet("tcp 198.51.100.1:80", QStringLiteral("Nimbora2")) << false;
    QTest::newRow("public IPv4") << rules << packet("tcp 198.51.100.1:80") << false;
    KillSwitchRules onlyIPv6 = rules;
    onlyIPv6.blockIPv4 = false;
    QTest::newRow("kill switch off, IPv4") << onlyIPv6 << packet("tcp 198.51.100.1:80") << true;
    QTest::newRow("kill switch off, IPv6 global") << onlyIPv6 << packet("tcp [2001:db8:9::1]:80") << false;
    QTest::newRow("kill switch off, IPv6 link-local") << onlyIPv6 << packet("udp [fe80::1]:5353") << true;
}

void TestKillSwitchRules::passes()
{
    QFETCH(KillSwitchRules, rules);
    QFETCH(Packet, packet);
    QFETCH(bool, passes);
    QCOMPARE(rules.passes(packet), passes);
}

void TestKillSwitchRules::invalidValuesWriteNoScript_data()
{
    QTest::addColumn<KillSwitchRules>("rules");

    KillSwitchRules rules = typicalRules();
    rules.vpnAdapter = QStringLiteral("tun0\" accept\n\t\taccept #");
    QTest::newRow("adapter name closing the quote") << rules;
    rules = typicalRules();
    rules.vpnAdapter = QStringLiteral("sixteen-letters0");
    QTest::newRow("adapter name too long") << rules;
    rules = typicalRules();
    rules.endpoints << KillSwitchRules::Endpoint { QHostAddress(QStringLiteral("198.19.1.3")), 0 };
    QTest::newRow("endpoint without port") << rules;
    rules = typicalRules();
    rules.nameServers << QHostAddress();
    QTest::newRow("empty name server") << rules;
    rules = typicalRules();
    rules.exceptions << KillSwitchRules::Subnet(QHostAddress(QStringLiteral("198.18.8.0")), 33);
    QTest::newRow("IPv4 prefix of 33") << rules;
}

void TestKillSwitchRules::invalidValuesWriteNoScript()
{
    QFETCH(KillSwitchRules, rules);
    QVERIFY(!rules.invalidity().isEmpty());
    QVERIFY(rules.nftablesScript().isEmpty());
    QVERIFY(rules.windowsFilters().isEmpty());
}

void TestKillSwitchRules::scriptAcceptedByNft_data()
{
    QTest::addColumn<KillSwitchRules>("rules");

    QTest::newRow("typical") << typicalRules();
    KillSwitchRules rules = typicalRules();
    rules.blockIPv4 = false;
    QTest::newRow("kill switch off") << rules;
    rules = typicalRules();
    rules.allowLocalNetwork = true;
    rules.vpnAdapter.clear();
    // A scope and host bits are the caller's: neither may reach the script.
    rules.nameServers << QHostAddress(QStringLiteral("fe80::1%2"));
    rules.exceptions << KillSwitchRules::Subnet(QHostAddress(QStringLiteral("2001:db8:7::99")), 48)
                     << KillSwitchRules::Subnet(QHostAddress(QStringLiteral("198.18.9.77")), 24);
    rules.socksAddress = QHostAddress(QStringLiteral("2001:db8::10"));
    QTest::newRow("local network, IPv6 values, no adapter yet") << rules;
}

void TestKillSwitchRules::scriptAcceptedByNft()
{
    QFETCH(KillSwitchRules, rules);
    if (geteuid() != 0)
        QSKIP("needs root: nft checks the script against the kernel of a network namespace of its own (unshare)");
    const QByteArray script = rules.nftablesScript();
    QVERIFY(!script.isEmpty());
    QProcess nft;
    nft.setProcessChannelMode(QProcess::MergedChannels);
    nft.start(QStringLiteral("unshare"),
        { QStringLiteral("-n"), QStringLiteral("nft"), QStringLiteral("-c"), QStringLiteral("-f"),
            QStringLiteral("-") });
    QVERIFY2(nft.waitForStarted(), qPrintable(nft.errorString()));
    nft.write(script);
    nft.closeWriteChannel();
    QVERIFY(nft.waitForFinished(20000));
    QVERIFY2(nft.exitStatus() == QProcess::NormalExit && nft.exitCode() == 0,
        qPrintable(QString::fromUtf8(nft.readAll() + "\n" + script)));
}

void TestKillSwitchRules::windowsPlanDecidesAlike_data()
{
    QTest::addColumn<KillSwitchRules>("rules");
    QTest::addColumn<Packet>("packet");
    QTest::addColumn<bool>("passes");

    // On Windows the way out of the SOCKS server is the program's, not the user's.
    KillSwitchRules rules = typicalRules();
    rules.socksUser = -1;
    rules.socksProgram = QStringLiteral("C:\\Program Files\\Nimbora\\nimbora.exe");
    QTest::newRow("endpoint") << rules << packet("tcp 198.19.1.2:443") << true;
    QTest::newRow("endpoint, other port") << rules << packet("tcp 198.19.1.2:80") << false;
    QTest::newRow("SOCKS way out") << rules << fromSocks("tcp 198.51.100.1:80", "198.18.0.10", -1, rules.socksProgram)
                                   << true;
    QTest::newRow("SOCKS address, other program")
        << rules << fromSocks("tcp 198.51.100.1:80", "198.18.0.10", -1, QStringLiteral("C:\\evil.exe")) << false;
    QTest::newRow("IPv6 global") << rules << packet("tcp [2001:db8:9::1]:443") << false;
    QTest::newRow("neighbour solicitation") << rules << packet("icmpv6 2001:db8:9::1 135") << true;
    QTest::newRow("loopback") << rules << packet("tcp 127.0.0.1:8080", QStringLiteral("lo")) << true;
    QTest::newRow("VPN adapter") << rules << packet("tcp [2001:db8:9::1]:80", QStringLiteral("Nimbora")) << true;
    rules.blockIPv4 = false;
    QTest::newRow("kill switch off, IPv4") << rules << packet("tcp 198.51.100.1:80") << true;
    QTest::newRow("kill switch off, IPv6") << rules << packet("tcp [2001:db8:9::1]:80") << false;
}

void TestKillSwitchRules::windowsPlanDecidesAlike()
{
    QFETCH(KillSwitchRules, rules);
    QFETCH(Packet, packet);
    QFETCH(bool, passes);
    QCOMPARE(rules.passes(packet), passes);
    QCOMPARE(windowsLets(rules.windowsFilters(), packet, rules.vpnAdapter), passes);
}

NIMBORA_TEST_MAIN(TestKillSwitchRules, QCoreApplication)
#include "tst_killswitchrules.moc"
