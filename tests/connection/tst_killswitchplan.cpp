#include "connection/killswitchplan.h"

#include <QtTest>

#include <unistd.h>

// What a redirecting connection lets out by the physical adapter while connecting and once
// connected: the main server and the name servers only while a reconnection may need them, the
// proxy instead of the server, the SOCKS server's way out only once connected.
class TestKillSwitchPlan : public QObject
{
    Q_OBJECT

private slots:
    void passes_data();
    void passes();
};

namespace {

using Packet = KillSwitchRules::Packet;
using Protocol = KillSwitchRules::Protocol;

Packet packet(const char *destination, quint16 port, Protocol protocol = Protocol::Tcp)
{
    Packet packet;
    packet.adapter = QStringLiteral("eth0");
    packet.destination = QHostAddress(QLatin1String(destination));
    packet.destinationPort = port;
    packet.protocol = protocol;
    packet.source = QHostAddress(QStringLiteral("198.18.1.2"));
    packet.user = qint64(::getuid());
    return packet;
}

KillSwitchPlan::Input input()
{
    KillSwitchPlan::Input input;
    input.vpnAdapter = QStringLiteral("Nimbora");
    input.serverAddresses = { QHostAddress(QStringLiteral("198.18.0.11")) };
    input.serverPort = 443;
    input.mainServerAddresses = { QHostAddress(QStringLiteral("198.18.0.10")) };
    input.mainServerPort = 443;
    input.physicalNameServers = { QHostAddress(QStringLiteral("198.18.0.53")) };
    input.exceptionAddresses = { QHostAddress(QStringLiteral("198.18.5.5")) };
    return input;
}

} // namespace

Q_DECLARE_METATYPE(KillSwitchPlan::Input)
Q_DECLARE_METATYPE(KillSwitchRules::Packet)

void TestKillSwitchPlan::passes_data()
{
    QTest::addColumn<KillSwitchPlan::Input>("input");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<Packet>("packet");
    QTest::addColumn<bool>("passes");

    const KillSwitchPlan::Input plain = input();
    KillSwitchPlan::Input proxied = plain;
    proxied.proxy = QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("198.18.2.2"), 8888);
    KillSwitchPlan::Input http = plain;
    http.serverPort = 80;
    KillSwitchPlan::Input physicalDns = plain;
    physicalDns.dnsThroughVpn = false;
    KillSwitchPlan::Input socks = plain;
    socks.socksAddress = QHostAddress(QStringLiteral("198.18.1.2"));
    KillSwitchPlan::Input switchedOff = plain;
    switchedOff.killSwitch = false;

    QTest::newRow("server, connecting") << plain << false << packet("198.18.0.11", 443) << true;
    QTest::newRow("server, connected") << plain << true << packet("198.18.0.11", 443) << true;
    QTest::newRow("server, another port") << plain << true << packet("198.18.0.11", 80) << false;
    QTest::newRow("HTTP transport's port") << http << true << packet("198.18.0.11", 80) << true;
    QTest::newRow("main server, connecting") << plain << false << packet("198.18.0.10", 443) << true;
    QTest::newRow("main server, connected: through the tunnel") << plain << true << packet("198.18.0.10", 443) << false;
    QTest::newRow("name server, connecting") << plain << false << packet("198.18.0.53", 53, Protocol::Udp) << true;
    QTest::newRow("name server, connected with DNS through the VPN")
        << plain << true << packet("198.18.0.53", 53, Protocol::Udp) << false;
    QTest::newRow("name server, connected with the physical DNS")
        << physicalDns << true << packet("198.18.0.53", 53, Protocol::Udp) << true;
    QTest::newRow("proxy instead of the server") << proxied << true << packet("198.18.2.2", 8888) << true;
    QTest::newRow("server itself, behind a proxy") << proxied << true << packet("198.18.0.11", 443) << false;
    QTest::newRow("main server, behind a proxy") << proxied << false << packet("198.18.0.10", 443) << false;
    QTest::newRow("exception") << plain << true << packet("198.18.5.5", 8080) << true;
    QTest::newRow("anything else") << plain << true << packet("198.18.0.20", 79) << false;
    QTest::newRow("SOCKS way out, connected") << socks << true << packet("198.18.0.20", 79) << true;
    QTest::newRow("SOCKS way out, connecting") << socks << false << packet("198.18.0.20", 79) << false;
    QTest::newRow("kill switch off: IPv4 passes") << switchedOff << true << packet("198.18.0.20", 79) << true;
    QTest::newRow("kill switch off: IPv6 does not") << switchedOff << true << packet("2001:db8::20", 79) << false;
}

void TestKillSwitchPlan::passes()
{
    QFETCH(KillSwitchPlan::Input, input);
    QFETCH(bool, connected);
    QFETCH(Packet, packet);
    QFETCH(bool, passes);

    const KillSwitchRules rules = connected ? KillSwitchPlan::connected(input) : KillSwitchPlan::connecting(input);
    QVERIFY2(rules.invalidity().isEmpty(), qPrintable(rules.invalidity()));
    QCOMPARE(rules.passes(packet), passes);
}

QTEST_GUILESS_MAIN(TestKillSwitchPlan)
#include "tst_killswitchplan.moc"
