#include "tools/service/serviceconfig.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QTemporaryDir>

class TestServiceConfig : public QObject
{
    Q_OBJECT

private slots:
    void errors_data();
    void errors();
    void valuesAndDefaults();
    void unreadableFile();
};

namespace {
// A valid configuration with one place to break.
QByteArray config(const QByteArray &mainServer = R"({ "listen": [ { "address": "127.0.0.1", "port": 80 } ] })",
    const QByteArray &users = R"([ { "username": "alice", "password": "4cecaff2b30bbe75ce7322109164cfb5" } ])",
    const QByteArray &servers
    = R"([ { "id": 1, "name": "S", "countries": [ { "code": "fr", "tunnels": [ { "id": 11, "name": "paris" } ] } ] } ])",
    const QByteArray &endpoints = R"([ { "address": "127.0.0.1", "openvpn": { "address": "127.0.0.1" } } ])")
{
    return "{ \"mainServer\": " + mainServer + ", \"users\": " + users + ", \"servers\": " + servers
        + ", \"endpoints\": " + endpoints + " }";
}
} // namespace

void TestServiceConfig::errors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // empty: accepted

    const QByteArray listen = R"("listen": [ { "address": "127.0.0.1", "port": 80 } ])";
    QTest::newRow("valid") << config() << "";
    QTest::newRow("not JSON, line given") << QByteArray("{\n\"users\": [\n,]\n}") << "line 3";
    QTest::newRow("top level array") << QByteArray("[]") << "the top level must be an object";
    QTest::newRow("misspelt member") << QByteArray(config().replace("\"endpoints\"", "\"endpoint\""))
                                     << "(top level): unknown member \"endpoint\"";
    QTest::newRow("no users") << QByteArray(R"({ "mainServer": { )" + listen + R"( }, "servers": [] })")
                              << "users: missing";
    QTest::newRow("password in clear") << config(
        R"({ )" + listen + " }", R"([ { "username": "alice", "password": "wonderland" } ])")
                                       << "users[0].password: expected the lower-case hex MD5";
    QTest::newRow("user listed twice") << config(R"({ )" + listen + " }",
        R"([ { "username": "a", "password": "4cecaff2b30bbe75ce7322109164cfb5" },
                           { "username": "a", "password": "4cecaff2b30bbe75ce7322109164cfb5" } ])")
                                       << "users[1].username: \"a\" is listed twice";
    QTest::newRow("HTTPS without certificate")
        << config(R"({ "listen": [ { "address": "127.0.0.1", "port": 443, "tls": true } ] })")
        << "mainServer.certificate: missing";
    QTest::newRow("host name instead of address")
        << config(R"({ "listen": [ { "address": "main.ostrelle.example", "port": 80 } ] })")
        << "mainServer.listen[0].address: \"main.ostrelle.example\" is not an IPv4 address";
    QTest::newRow("port out of range") << config(R"({ "listen": [ { "address": "127.0.0.1", "port": 70000 } ] })")
                                       << "mainServer.listen[0].port: expected a whole number from 0 to 65535";
    QTest::newRow("port as text") << config(R"({ "listen": [ { "address": "127.0.0.1", "port": "80" } ] })")
                                  << "mainServer.listen[0].port";
    QTest::newRow("fractional delay") << config(R"({ )" + listen + R"(, "faults": { "login": { "delay": 1.5 } } })")
                                      << "mainServer.faults.login.delay";
    QTest::newRow("fault of an unknown command")
        << config(R"({ )" + listen + R"(, "faults": { "logout": { "code": "FAILED" } } })")
        << "mainServer.faults: unknown member \"logout\"";
    QTest::newRow("unknown fault member")
        << config(R"({ )" + listen + R"(, "faults": { "login": { "answer": false } } })")
        << "mainServer.faults.login: unknown member \"answer\"";
    QTest::newRow("bad version") << config(R"({ )" + listen + R"(, "optionalVersion": "1.6.x" })")
                                 << "mainServer.optionalVersion";
    QTest::newRow("server id twice") << config(R"({ )" + listen + " }", R"([])",
        R"([ { "id": 1, "name": "A", "countries": [] }, { "id": 1, "name": "B", "countries": [] } ])")
                                     << "servers[1].id: 1 is used twice";
    QTest::newRow("tunnel without name") << config(R"({ )" + listen + " }", R"([])",
        R"([ { "id": 1, "name": "A", "countries": [ { "code": "fr", "tunnels": [ { "id": 3 } ] } ] } ])")
                                         << "servers[0].countries[0].tunnels[0].name: missing";
    QTest::newRow("endpoint without OpenVPN server") << config(R"({ )" + listen + " }", R"([])", R"([])",
        R"([ { "address": "127.0.0.1" } ])") << "endpoints[0].openvpn: expected an object";
    QTest::newRow("probe with a reply code") << config(R"({ )" + listen + " }", R"([])", R"([])",
        R"([ { "address": "127.0.0.1", "openvpn": { "address": "127.0.0.1" }, "ping": { "code": "OK" } } ])")
                                             << "endpoints[0].ping.code";
    QTest::newRow("negative probe delay") << config(R"({ )" + listen + " }", R"([])", R"([])",
        R"([ { "address": "127.0.0.1", "openvpn": { "address": "127.0.0.1" }, "ping": { "delay": -1 } } ])")
                                          << "endpoints[0].ping.delay";
    QTest::newRow("transport flag as text") << config(R"({ )" + listen + " }", R"([])", R"([])",
        R"([ { "address": "127.0.0.1", "openvpn": { "address": "127.0.0.1" }, "transport": { "http10": "yes" } } ])")
                                            << "endpoints[0].transport.http10: expected true or false";
}

void TestServiceConfig::errors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    ServiceConfig config;
    QCOMPARE(config.parse(json), error.isEmpty());
    if (error.isEmpty())
        QVERIFY2(config.errorString().isEmpty(), qPrintable(config.errorString()));
    else
        QVERIFY2(config.errorString().startsWith(error), qPrintable(config.errorString()));
}

void TestServiceConfig::valuesAndDefaults()
{
    ServiceConfig config;
    const QByteArray json = ::config(R"({ "listen": [ { "address": "127.0.0.1", "port": 0 } ],
                                          "faults": { "servers": { "noAnswer": true, "delay": 20 },
                                                      "check": { "body": "<html>" } } })",
        R"([ { "username": "bob", "password": "c87a8ca60f0891b79d192fa86f019916",
                                            "ports": 3, "premium": true } ])");
    QVERIFY2(config.parse(json), qPrintable(config.errorString()));
    QCOMPARE(config.users.size(), 1);
    QVERIFY(config.user("bob"));
    QCOMPARE(config.user("bob")->ports, 3);
    QVERIFY(config.user("bob")->premium);
    QCOMPARE(config.user("bob")->bandwidth, QStringLiteral("0"));
    QVERIFY(!config.user("alice"));
    QVERIFY(config.faults.value("servers").noAnswer);
    QCOMPARE(config.faults.value("servers").delay, 20);
    QVERIFY(config.faults.value("check").hasBody);
    QCOMPARE(config.faults.value("check").body, QByteArray("<html>"));
    QVERIFY(!config.faults.contains("login"));
    QCOMPARE(config.servers.first().countries.first().tunnels.first().protocols, 7);
    QCOMPARE(config.endpoints.size(), 1);
    QCOMPARE(config.endpoints.first().listen.port, quint16(80));
    QCOMPARE(config.endpoints.first().openvpnPort, quint16(443));
    QCOMPARE(config.endpoints.first().ping.body, QByteArray("pong"));
    QVERIFY(config.endpoints.first().transport.streaming);
    QCOMPARE(config.optionalVersion, QStringLiteral("1.6.7"));
}

void TestServiceConfig::unreadableFile()
{
    QTemporaryDir dir;
    ServiceConfig config;
    const QString missing = dir.filePath("missing.json");
    QVERIFY(!config.load(missing));
    QVERIFY(config.errorString().startsWith(missing + ": cannot read"));

    QFile broken(dir.filePath("broken.json"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{ \"users\": ");
    broken.close();
    QVERIFY(!config.load(broken.fileName()));
    QVERIFY2(config.errorString().startsWith(broken.fileName() + ": line 1"), qPrintable(config.errorString()));
}

NIMBORA_TEST_MAIN(TestServiceConfig, QCoreApplication)
#include "tst_serviceconfig.moc"
