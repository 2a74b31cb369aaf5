#include "helper/helperarguments.h"

#include "connection/helperclient.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QtTest>

using Values = QVariantMap;
Q_DECLARE_METATYPE(KillSwitchRules)

class TestHelperArguments : public QObject
{
    Q_OBJECT

private slots:
    void connectValues_data();
    void connectValues();
    void routes_data();
    void routes();
    void blockValues_data();
    void blockValues();
    void clientBlockValues_data();
    void clientBlockValues();
};

namespace {

Values goodValues()
{
    return {
        { "adapter", QString("Nimbora") },
        { "host", QString("paris.vpn.example") },
        { "port", QVariant::fromValue(quint16(443)) },
        { "proxy-type", QString("none") },
        { "proxy-address", QString() },
        { "proxy-port", QVariant::fromValue(quint16(0)) },
        { "proxy-user", QString() },
        { "proxy-password", QString() },
        { "proxy-auth-method", QString("Automatique") },
        { "username", QString("alice") },
        { "password", QString("0123456789abcdef") },
        { "auto-reconnect", true },
        { "use-server-dns", false },
        { "dns-servers", QStringList { "198.18.0.53" } },
    };
}

Values with(const QString &key, const QVariant &value)
{
    Values values = goodValues();
    values.insert(key, value);
    return values;
}

Values without(const QString &key)
{
    Values values = goodValues();
    values.remove(key);
    return values;
}

Values withProxy(const QString &type, const QString &address, quint16 port)
{
    Values values = goodValues();
    values.insert("proxy-type", type);
    values.insert("proxy-address", address);
    values.insert("proxy-port", QVariant::fromValue(port));
    return values;
}

} // namespace

void TestHelperArguments::connectValues_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<QString>("error"); // empty: taken

    QTest::newRow("good") << goodValues() << QString();
    QTest::newRow("address as host") << with("host", QString("198.18.0.11")) << QString();
    QTest::newRow("through an http proxy") << withProxy("http", "198.18.2.2", 3128) << QString();
    QTest::newRow("missing key") << without("password") << "password is missing";
    QTest::newRow("extra key") << with("script", QString("/tmp/x")) << "unknown value script";
    QTest::newRow("port as a string") << with("port", QString("443")) << "port has the wrong type";
    QTest::newRow("port as an int32") << with("port", 443) << "port has the wrong type";
    QTest::newRow("dns servers as a string") << with("dns-servers", QString("1.1.1.1")) << "dns-servers has the wrong type";
    QTest::newRow("adapter with a space") << with("adapter", QString("Nim bora")) << "adapter is not an interface name";
    QTest::newRow("adapter as a path") << with("adapter", QString("/dev/net/tun")) << "adapter is not an interface name";
    QTest::newRow("adapter as an option") << with("adapter", QString("--dev-node")) << "adapter is not an interface name";
    QTest::newRow("adapter too long") << with("adapter", QString(16, 'a')) << "adapter is not an interface name";
    QTest::newRow("host as an option")
        << with("host", QString("--script-security")) << "host is not a host name or an IPv4 address";
    QTest::newRow("host as a path") << with("host", QString("/etc/passwd")) << "host is not a host name or an IPv4 address";
    QTest::newRow("host with a space")
        << with("host", QString("paris 443 --up x")) << "host is not a host name or an IPv4 address";
    QTest::newRow("host as an IPv6 address") << with("host", QString("::1")) << "host is not a host name or an IPv4 address";
    QTest::newRow("host ending in a line break")
        << with("host", QString("paris\n")) << "host is not a host name or an IPv4 address";
    QTest::newRow("address ending in a line break")
        << with("host", QString("198.18.0.11\n")) << "host is not a host name or an IPv4 address";
    QTest::newRow("host too long")
        << with("host", QString(300, 'a')) << "host is not a host name or an IPv4 address";
    QTest::newRow("port 0") << with("port", QVariant::fromValue(quint16(0))) << "port is 0";
    QTest::newRow("unknown proxy type") << with("proxy-type", QString("socks4")) << "proxy-type is not none, http or socks5";
    QTest::newRow("proxy values without a proxy")
        << with("proxy-address", QString("198.18.2.2")) << "proxy values without a proxy";
    QTest::newRow("proxy named, not an address")
        << withProxy("socks5", "proxy.example", 1080) << "the proxy is not an IPv4 address and a port";
    QTest::newRow("proxy without a port")
        << withProxy("http", "198.18.2.2", 0) << "the proxy is not an IPv4 address and a port";
    QTest::newRow("unknown proxy method")
        << with("proxy-auth-method", QString("digest")) << "proxy-auth-method is not Automatique, Basic or NTLM";
    QTest::newRow("user name ending a management line")
        << with("username", QString("alice\nbob")) << "the credentials are empty, too long or hold control characters";
    QTest::newRow("password with a NUL")
        << with("password", QString("abc") + QChar(0) + "d")
        << "the credentials are empty, too long or hold control characters";
    QTest::newRow("empty user name")
        << with("username", QString()) << "the credentials are empty, too long or hold control characters";
    QTest::newRow("oversized password")
        << with("password", QString(100000, 'x')) << "the credentials are empty, too long or hold control characters";
    QTest::newRow("name server not an address")
        << with("dns-servers", QStringList { "ns.example" }) << "a name server is not an IPv4 address";
    QTest::newRow("too many name servers")
        << with("dns-servers", QVariant(QStringList(QVector<QString>(9, "198.18.0.53").toList()))) << "more than 8 name servers";
}

void TestHelperArguments::connectValues()
{
    QFETCH(Values, values);
    QFETCH(QString, error);

    OpenVpnRequest request;
    request.host = QStringLiteral("untouched");
    QString reason;
    QCOMPARE(HelperArguments::openvpnRequest(values, &request, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    if (error.isEmpty())
        QCOMPARE(request.host, values.value("host").toString());
    else
        QCOMPARE(request.host, QStringLiteral("untouched")); // nothing half taken
}

void TestHelperArguments::routes_data()
{
    QTest::addColumn<QStringList>("route"); // destination mask gateway adapter
    QTest::addColumn<int>("metric");
    QTest::addColumn<bool>("taken");

    QTest::newRow("default half") << QStringList { "0.0.0.0", "128.0.0.0", "198.19.1.1", "lo" } << -1 << true;
    QTest::newRow("host route") << QStringList { "198.18.0.11", "255.255.255.255", "198.18.1.1", "lo" } << 1 << true;
    QTest::newRow("mask with a hole") << QStringList { "10.0.0.0", "255.0.255.0", "198.18.1.1", "lo" } << 1 << false;
    QTest::newRow("bits outside the mask") << QStringList { "10.0.0.1", "255.0.0.0", "198.18.1.1", "lo" } << 1 << false;
    QTest::newRow("IPv6 gateway") << QStringList { "10.0.0.0", "255.0.0.0", "::1", "lo" } << 1 << false;
    QTest::newRow("short address") << QStringList { "10.0.0", "255.0.0.0", "198.18.1.1", "lo" } << 1 << false;
    QTest::newRow("no such adapter") << QStringList { "10.0.0.0", "255.0.0.0", "198.18.1.1", "nosuch0" } << 1 << false;
    QTest::newRow("adapter as a path") << QStringList { "10.0.0.0", "255.0.0.0", "198.18.1.1", "../lo" } << 1 << false;
    QTest::newRow("metric too large") << QStringList { "10.0.0.0", "255.0.0.0", "198.18.1.1", "lo" } << 100000 << false;
}

void TestHelperArguments::routes()
{
    QFETCH(QStringList, route);
    QFETCH(int, metric);
    QFETCH(bool, taken);

    const HelperProtocol::WireRoute wire { route.at(0), route.at(1), route.at(2), route.at(3), metric };
    Route read;
    QString reason;
    QCOMPARE(HelperArguments::route(wire, &read, &reason), taken);
    QCOMPARE(reason.isEmpty(), taken);
    if (taken)
        QCOMPARE(HelperProtocol::toWire(read).gateway, route.at(2));
}

namespace {

Values goodBlock()
{
    return {
        { "block-ipv4", true },
        { "vpn-adapter", QString("Nimbora") },
        { "endpoints", QStringList { "198.19.1.2:443", "[2001:db8::1]:1194" } },
        { "name-servers", QStringList { "198.18.0.53", "2001:db8::53" } },
        { "exceptions", QStringList { "198.18.5.7/24", "2001:db8:5::/48" } },
        { "local-network", false },
        { "socks-address", QString("198.18.1.2") },
    };
}

Values block(const QString &key, const QVariant &value)
{
    Values values = goodBlock();
    values.insert(key, value);
    return values;
}

QStringList copies(int count, const QString &text)
{
    return QVector<QString>(count, text).toList();
}

} // namespace

void TestHelperArguments::blockValues_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<QString>("error"); // empty: taken

    const QString endpoint = "an endpoint is not a numeric address and a port from 1 to 65535";
    const QString server = "a name server is not a numeric address";
    const QString exception = "an exception is not a numeric address and a prefix length in range";
    QTest::newRow("good") << goodBlock() << QString();
    QTest::newRow("nothing allowed") << block("endpoints", QStringList()) << QString();
    QTest::newRow("no SOCKS address") << block("socks-address", QString()) << QString();
    Values missing = goodBlock();
    missing.remove("exceptions");
    QTest::newRow("missing key") << missing << "exceptions is missing";
    QTest::newRow("a SOCKS user of the caller's choosing") << block("socks-user", 0) << "unknown value socks-user";
    QTest::newRow("flag as a string") << block("block-ipv4", QString("true")) << "block-ipv4 has the wrong type";
    QTest::newRow("endpoints as a string")
        << block("endpoints", QString("198.19.1.2:443")) << "endpoints has the wrong type";
    QTest::newRow("endpoint by name") << block("endpoints", QStringList { "vpn.example:443" }) << endpoint;
    QTest::newRow("endpoint without a port") << block("endpoints", QStringList { "198.19.1.2" }) << endpoint;
    QTest::newRow("endpoint port 0") << block("endpoints", QStringList { "198.19.1.2:0" }) << endpoint;
    QTest::newRow("endpoint port 65536") << block("endpoints", QStringList { "198.19.1.2:65536" }) << endpoint;
    QTest::newRow("IPv6 endpoint without brackets")
        << block("endpoints", QStringList { "2001:db8::1:443" }) << endpoint;
    QTest::newRow("IPv4 endpoint in brackets") << block("endpoints", QStringList { "[198.19.1.2]:443" }) << endpoint;
    QTest::newRow("endpoint with an interface scope")
        << block("endpoints", QStringList { "[fe80::1%lab0]:443" }) << endpoint;
    QTest::newRow("too many endpoints") << block("endpoints", copies(17, "198.19.1.2:443")) << "more than 16 endpoints";
    QTest::newRow("name server by name") << block("name-servers", QStringList { "ns.example" }) << server;
    QTest::newRow("name server as an option") << block("name-servers", QStringList { "--flush" }) << server;
    QTest::newRow("name server ending in a line break")
        << block("name-servers", QStringList { "198.18.0.53\n" }) << server;
    QTest::newRow("too many name servers")
        << block("name-servers", copies(9, "198.18.0.53")) << "more than 8 name servers";
    QTest::newRow("exception with firewall text")
        << block("exceptions", QStringList { "198.18.5.0/24 accept; flush ruleset" }) << exception;
    QTest::newRow("exception by name") << block("exceptions", QStringList { "lan.example/24" }) << exception;
    QTest::newRow("exception prefix 33") << block("exceptions", QStringList { "198.18.5.0/33" }) << exception;
    QTest::newRow("IPv6 exception prefix 129") << block("exceptions", QStringList { "2001:db8::/129" }) << exception;
    QTest::newRow("exception with a mask")
        << block("exceptions", QStringList { "198.18.5.0/255.255.255.0" }) << exception;
    QTest::newRow("too many exceptions") << block("exceptions", copies(257, "198.18.5.0/24"))
                                         << "more than 256 exceptions";
    QTest::newRow("VPN adapter as a path")
        << block("vpn-adapter", QString("/dev/net/tun")) << "vpn-adapter is not an interface name";
    QTest::newRow("SOCKS address by name")
        << block("socks-address", QString("localhost")) << "socks-address is not a numeric address";
}

void TestHelperArguments::blockValues()
{
    QFETCH(Values, values);
    QFETCH(QString, error);

    KillSwitchRules rules;
    rules.vpnAdapter = QStringLiteral("untouched");
    QString reason;
    QCOMPARE(HelperArguments::killSwitchRules(values, &rules, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    if (!error.isEmpty()) {
        QCOMPARE(rules.vpnAdapter, QStringLiteral("untouched")); // nothing half taken
        return;
    }
    QCOMPARE(rules.socksUser, qint64(-1)); // the bus says whose it is, never the values
    QCOMPARE(rules.endpoints.size(), values.value("endpoints").toStringList().size());
    if (!rules.exceptions.isEmpty()) // the bits beyond the prefix cleared: firewalls refuse them
        QCOMPARE(rules.exceptions.first(), KillSwitchRules::Subnet(QHostAddress("198.18.5.0"), 24));
}

// What the program sends is what the helper takes: both sides of the wire.
void TestHelperArguments::clientBlockValues_data()
{
    QTest::addColumn<KillSwitchRules>("rules");

    KillSwitchRules ipv6Only;
    ipv6Only.blockIPv4 = false;
    ipv6Only.vpnAdapter = QStringLiteral("Nimbora");
    QTest::newRow("IPv6 only") << ipv6Only;

    KillSwitchRules everything;
    everything.vpnAdapter = QStringLiteral("tun0");
    everything.endpoints = { { QHostAddress("198.19.1.2"), 443 }, { QHostAddress("2001:db8::1"), 65535 } };
    everything.nameServers = { QHostAddress("198.18.0.53"), QHostAddress("2001:db8::53") };
    everything.exceptions
        = { { QHostAddress("198.18.5.0"), 24 }, { QHostAddress("2001:db8:5::"), 48 }, { QHostAddress("0.0.0.0"), 0 } };
    everything.allowLocalNetwork = true;
    everything.socksAddress = QHostAddress("198.18.1.2");
    QTest::newRow("everything") << everything;
}

void TestHelperArguments::clientBlockValues()
{
    QFETCH(KillSwitchRules, rules);

    KillSwitchRules read;
    QString reason;
    QVERIFY2(HelperArguments::killSwitchRules(HelperClient::blockValues(rules), &read, &reason), qPrintable(reason));
    QCOMPARE(read, rules);
}

NIMBORA_TEST_MAIN(TestHelperArguments, QCoreApplication)

#include "tst_helperarguments.moc"
