#include "connection/openvpnarguments.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

Q_DECLARE_METATYPE(OpenVPNArguments)

class TestOpenVPNArguments : public QObject
{
    Q_OBJECT

private slots:
    void build_data();
    void build();
};

namespace {

OpenVPNArguments baseArguments()
{
    OpenVPNArguments arguments;
    arguments.adapter = QStringLiteral("{8F1C2A3B-0000-4D5E-9F10-112233445566}");
    arguments.host = QStringLiteral("vpn1.ostrelle.example");
    arguments.port = 443;
    arguments.managementAddress = QStringLiteral("127.0.0.1");
    arguments.managementPort = 51234;
    arguments.caFile = QStringLiteral("C:/Program Files/Nimbora/ca.crt");
    // Present but unused unless the VPN server's DNS is turned off.
    arguments.dnsServers = { QHostAddress(QStringLiteral("198.18.9.1")), QHostAddress(QStringLiteral("198.18.9.2")) };
    return arguments;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The whole Windows list: the pieces that change, between the ones that never do.
QStringList windowsList(const QStringList &proxy, const QStringList &reconnect, const QStringList &dns,
    const char *ipMethod = "dynamic", const char *remote = "vpn1.ostrelle.example 443")
{
    QStringList list = words("--client --dev tun --dev-node");
    list << QStringLiteral("{8F1C2A3B-0000-4D5E-9F10-112233445566}");
    list << words("--proto tcp-client --remote") << words(remote)
         << words("--management 127.0.0.1 51234 --management-client --management-query-passwords") << proxy
         << QStringLiteral("--ca") << QStringLiteral("C:/Program Files/Nimbora/ca.crt")
         << words("--remote-cert-tls server --reneg-sec 0 --auth-user-pass --auth-nocache --compress "
                  "--resolv-retry 0 --ping 10 --ping-exit 30")
         << reconnect << dns << QStringLiteral("--ip-win32") << QString::fromLatin1(ipMethod) << words("--verb 3");
    return list;
}

// Linux: the adapter is named by its interface with the device type, and --ip-win32 is left out.
QStringList linuxList(QStringList list)
{
    const int node = list.indexOf(QStringLiteral("--dev-node"));
    const QString adapter = list.at(node + 1);
    list.replace(node - 1, adapter);
    list.replace(node, QStringLiteral("--dev-type"));
    list.replace(node + 1, QStringLiteral("tun"));
    const int ipMethod = list.indexOf(QStringLiteral("--ip-win32"));
    list.removeAt(ipMethod);
    list.removeAt(ipMethod);
    return list;
}

const char Persist[] = "--persist-tun --persist-key --persist-local-ip --connect-retry 1";
const char Once[] = "--connect-retry-max 1 --remap-usr1 SIGTERM";

} // namespace

void TestOpenVPNArguments::build_data()
{
    QTest::addColumn<OpenVPNArguments>("arguments");
    QTest::addColumn<QStringList>("expected");

    OpenVPNArguments arguments = baseArguments();
    QTest::newRow("direct") << arguments << windowsList({}, words(Persist), {});

    arguments.proxyType = QNetworkProxy::Socks5Proxy;
    arguments.proxyAddress = QStringLiteral("198.18.2.2");
    arguments.proxyPort = 1080;
    QTest::newRow("socks proxy") << arguments
                                 << windowsList(words("--socks-proxy 198.18.2.2 1080"), words(Persist), {});

    arguments.proxyType = QNetworkProxy::HttpProxy;
    arguments.proxyPort = 3128;
    const struct
    {
        const char *method;
        const char *words;
    } methods[] = { { "Automatique", "auto" }, { "Basic", "stdin basic" }, { "NTLM", "stdin ntlm" }, { "Aucune", "" },
        { "basic", "" } };
    for (const auto &method : methods) {
        arguments.proxyAuthMethod = QString::fromLatin1(method.method);
        QTest::addRow("http proxy, %s", method.method)
            << arguments
            << windowsList(words("--http-proxy 198.18.2.2 3128") + words(method.words), words(Persist), {});
    }
    arguments.proxyAuthMethod = QStringLiteral("Basic");
    arguments.proxyAddress.clear();
    QTest::newRow("http proxy without an address")
        << arguments
        << windowsList(QStringList({ QStringLiteral("--http-proxy"), QString(), QStringLiteral("3128") })
                   + words("stdin basic"),
               words(Persist), {});

    arguments = baseArguments();
    arguments.proxyType = QNetworkProxy::FtpCachingProxy;
    arguments.proxyAddress = QStringLiteral("198.18.2.2");
    QTest::newRow("other proxy type adds nothing") << arguments << windowsList({}, words(Persist), {});

    arguments = baseArguments();
    arguments.autoReconnect = false;
    QTest::newRow("no automatic reconnection") << arguments << windowsList({}, words(Once), {});

    arguments = baseArguments();
    arguments.useServerDns = false;
    QTest::newRow("own DNS servers") << arguments
                                     << windowsList({}, words(Persist),
                                            words("--dhcp-option DNS 198.18.9.1 --dhcp-option DNS 198.18.9.2"));
    arguments.dnsServers.clear();
    QTest::newRow("own DNS, none known") << arguments << windowsList({}, words(Persist), {});

    arguments = baseArguments();
    arguments.windowsIpMethod = QStringLiteral("netsh");
    arguments.host = QStringLiteral("127.0.0.1");
    arguments.port = 40111;
    QTest::newRow("local tunnel, netsh") << arguments
                                         << windowsList({}, words(Persist), {}, "netsh", "127.0.0.1 40111");
}

void TestOpenVPNArguments::build()
{
    QFETCH(OpenVPNArguments, arguments);
    QFETCH(QStringList, expected);

    QCOMPARE(arguments.build(OpenVPNArguments::Windows), expected);

    arguments.adapter = QStringLiteral("Nimbora");
    QStringList linuxExpected = expected;
    linuxExpected.replace(linuxExpected.indexOf(QStringLiteral("--dev-node")) + 1, QStringLiteral("Nimbora"));
    linuxExpected = linuxList(linuxExpected);
    QCOMPARE(arguments.build(OpenVPNArguments::Linux), linuxExpected);
    QVERIFY(!linuxExpected.contains(QStringLiteral("--ip-win32")));
    QCOMPARE(linuxExpected.mid(1, 4), words("--dev Nimbora --dev-type tun"));
}

NIMBORA_TEST_MAIN(TestOpenVPNArguments, QCoreApplication)
#include "tst_openvpnarguments.moc"
