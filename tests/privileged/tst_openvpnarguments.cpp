#include "privileged/openvpnarguments.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRegularExpression>

Q_DECLARE_METATYPE(OpenVPNArguments)

class TestOpenVPNArguments : public QObject
{
    Q_OBJECT

private slots:
    void variants_data();
    void variants();
};

namespace {

using A = OpenVPNArguments;

const QString CaFile = QStringLiteral("C:/Program Files/Nimbora/ca.crt");

// The whole Windows command line of base().
const QStringList Reference { "--client", "--dev", "tun", "--dev-node", "{8F1C2A3B-0000-4D5E-9F10-112233445566}",
    "--proto", "tcp-client", "--remote", "vpn1.ostrelle.example", "443", "--management", "127.0.0.1", "51234",
    "--management-client", "--management-query-passwords", "--ca", CaFile, "--remote-cert-tls", "server", "--reneg-sec",
    "0", "--auth-user-pass", "--auth-nocache", "--compress", "--resolv-retry", "0", "--ping", "10", "--ping-exit", "30",
    "--persist-tun", "--persist-key", "--persist-local-ip", "--connect-retry", "1", "--ip-win32", "dynamic", "--verb",
    "3" };

A base()
{
    A arguments;
    arguments.adapter = Reference.at(4);
    arguments.host = QStringLiteral("vpn1.ostrelle.example");
    arguments.port = 443;
    arguments.managementAddress = QStringLiteral("127.0.0.1");
    arguments.managementPort = 51234;
    arguments.caFile = CaFile;
    // Present but unused unless the VPN server's DNS is turned off.
    arguments.dnsServers = { QHostAddress(QStringLiteral("198.18.9.1")), QHostAddress(QStringLiteral("198.18.9.2")) };
    return arguments;
}

A via(QNetworkProxy::ProxyType type, quint16 port, const char *method, const char *address = "198.18.2.2")
{
    A arguments = base();
    arguments.proxyType = type;
    arguments.proxyAddress = QString::fromLatin1(address);
    arguments.proxyPort = port;
    arguments.proxyAuthMethod = QString::fromLatin1(method);
    return arguments;
}

A with(void (*change)(A &))
{
    A arguments = base();
    change(arguments);
    return arguments;
}

// '' stands for an empty argument.
QStringList words(const QString &text)
{
    QStringList list = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    list.replaceInStrings(QRegularExpression(QStringLiteral("^''$")), QString());
    return list;
}

} // namespace

// A row lists the runs of the Windows reference that change, "old => new", " | " between
// them; nothing else may differ.
void TestOpenVPNArguments::variants_data()
{
    QTest::addColumn<OpenVPNArguments>("arguments");
    QTest::addColumn<int>("platform");
    QTest::addColumn<QString>("changes");

    const auto socks = QNetworkProxy::Socks5Proxy;
    const auto http = QNetworkProxy::HttpProxy;
    const int W = A::Windows;
    QTest::newRow("windows") << base() << W << "";
    QTest::newRow("socks") << via(socks, 1080, "Basic") << W << "--ca => --socks-proxy 198.18.2.2 1080 --ca";
    QTest::newRow("auto") << via(http, 3128, "Automatique") << W << "--ca => --http-proxy 198.18.2.2 3128 auto --ca";
    QTest::newRow("basic") << via(http, 3128, "Basic") << W << "--ca => --http-proxy 198.18.2.2 3128 stdin basic --ca";
    QTest::newRow("ntlm") << via(http, 3128, "NTLM") << W << "--ca => --http-proxy 198.18.2.2 3128 stdin ntlm --ca";
    QTest::newRow("no auth") << via(http, 3128, "Aucune") << W << "--ca => --http-proxy 198.18.2.2 3128 --ca";
    // The empty address keeps its place, or OpenVPN would take the port for the host.
    QTest::newRow("unresolved") << via(http, 3128, "Aucune", "") << W << "--ca => --http-proxy '' 3128 --ca";
    QTest::newRow("no reconnection") << with([](A &a) { a.autoReconnect = false; }) << W
                                     << "--persist-tun --persist-key --persist-local-ip --connect-retry 1"
                                        " => --connect-retry-max 1 --remap-usr1 SIGTERM";
    QTest::newRow("own DNS") << with([](A &a) { a.useServerDns = false; }) << W
                             << "--ip-win32 => --dhcp-option DNS 198.18.9.1 --dhcp-option DNS 198.18.9.2 --ip-win32";
    QTest::newRow("netsh") << with([](A &a) { a.windowsIpMethod = "netsh"; }) << W << "dynamic => netsh";
    QTest::newRow("linux")
        << with([](A &a) {
               a.adapter = "Nimbora";
               a.managementSocket = "/tmp/nimbora-management-Ab12Cd/openvpn";
           })
        << int(A::Linux)
        << "tun --dev-node {8F1C2A3B-0000-4D5E-9F10-112233445566} => Nimbora --dev-type tun"
           " | 127.0.0.1 51234 => /tmp/nimbora-management-Ab12Cd/openvpn unix | --ip-win32 dynamic =>";
}

void TestOpenVPNArguments::variants()
{
    QFETCH(OpenVPNArguments, arguments);
    QFETCH(int, platform);
    QFETCH(QString, changes);

    QStringList expected = Reference;
    const QStringList runs = changes.split(QStringLiteral(" | "), Qt::SkipEmptyParts);
    for (const QString &run : runs) {
        const QStringList sides = run.split(QStringLiteral("=>"));
        const QStringList from = words(sides.first());
        const QStringList to = words(sides.last());
        int at = 0;
        while (at + from.size() <= expected.size() && expected.mid(at, from.size()) != from)
            ++at;
        QVERIFY2(at + from.size() <= expected.size(), qPrintable(run));
        expected = expected.mid(0, at) + to + expected.mid(at + from.size());
    }
    QCOMPARE(arguments.build(A::Platform(platform)), expected);
}

NIMBORA_TEST_MAIN(TestOpenVPNArguments, QCoreApplication)
#include "tst_openvpnarguments.moc"
