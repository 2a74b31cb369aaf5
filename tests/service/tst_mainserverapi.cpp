#include "tools/service/mainserverapi.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QDomDocument>

class TestMainServerApi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void login_data();
    void login();
    void sessionCommands_data();
    void sessionCommands();
    void serverTreeAsTheClientWalksIt();
    void faults_data();
    void faults();
    void refusedRequests_data();
    void refusedRequests();
    void sessionTableIsBounded();

private:
    static HttpRequest get(const QString &target);
    QDomElement answer(MainServerApi &api, const QString &target, MainServerApi::Reply *reply = nullptr);
    QString login(MainServerApi &api, const QString &user = "alice");

    ServiceConfig m_config;
    QDomDocument m_document;
};

namespace {
const QByteArray Json = R"({
  "mainServer": { "listen": [ { "address": "127.0.0.1", "port": 0 } ], "optionalVersion": "1.7", "mandatoryVersion": "1.2.3" },
  "users": [ { "username": "alice", "password": "4cecaff2b30bbe75ce7322109164cfb5", "subscription": "Premium",
               "bandwidth": "0", "ports": 5, "premium": true },
             { "username": "bob", "password": "c87a8ca60f0891b79d192fa86f019916" } ],
  "servers": [ { "id": 1, "name": "Europe", "bandwidth": 20, "countries": [
                   { "code": "fr", "tunnels": [ { "id": 11, "name": "paris", "hostname": "p.example", "address": "198.18.0.11", "slots": 10 } ] },
                   { "code": "de", "tunnels": [ { "id": 12, "name": "berlin", "address": "198.18.0.12", "type": 2 },
                                                { "id": 13, "name": "hamburg", "address": "198.18.0.14", "protocols": 1 } ] } ] },
               { "id": 2, "name": "Down", "state": 0, "countries": [] } ]
})";
const char AliceDigest[] = "4cecaff2b30bbe75ce7322109164cfb5";
} // namespace

void TestMainServerApi::init()
{
    QVERIFY2(m_config.parse(Json), qPrintable(m_config.errorString()));
    m_config.faults.clear();
}

HttpRequest TestMainServerApi::get(const QString &target)
{
    HttpRequest request;
    request.method = "GET";
    request.target = target;
    request.version = "HTTP/1.1";
    const int question = target.indexOf('?');
    request.path = question < 0 ? target : target.left(question);
    request.query = question < 0 ? QString() : target.mid(question + 1);
    return request;
}

QDomElement TestMainServerApi::answer(MainServerApi &api, const QString &target, MainServerApi::Reply *reply)
{
    const MainServerApi::Reply r = api.answer(get(target));
    if (reply)
        *reply = r;
    m_document = QDomDocument();
    m_document.setContent(r.body);
    return m_document.documentElement();
}

QString TestMainServerApi::login(MainServerApi &api, const QString &user)
{
    const QString digest = user == "alice" ? AliceDigest : "c87a8ca60f0891b79d192fa86f019916";
    return answer(api, "/client/login?username=" + user + "&password=" + digest + "&version=1.6.7")
        .firstChildElement("session")
        .text();
}

void TestMainServerApi::login_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("code");
    QTest::newRow("right digest") << QString("username=alice&password=%1&version=1.6.7").arg(AliceDigest) << "OK";
    QTest::newRow("digest in upper case")
        << QString("username=alice&password=%1").arg(QString(AliceDigest).toUpper()) << "OK";
    QTest::newRow("wrong digest") << "username=alice&password=00000000000000000000000000000000"
                                  << "DENIED";
    QTest::newRow("password in clear") << "username=alice&password=wonderland"
                                       << "DENIED";
    QTest::newRow("unknown user") << QString("username=carol&password=%1").arg(AliceDigest) << "DENIED";
    QTest::newRow("ampersand in the user name splits it")
        << QString("username=al&ice&password=%1").arg(AliceDigest) << "DENIED";
    QTest::newRow("nothing") << ""
                             << "DENIED";
}

void TestMainServerApi::login()
{
    QFETCH(QString, query);
    QFETCH(QString, code);
    MainServerApi api(m_config);
    const QDomElement root = answer(api, "/client/login?" + query);
    QCOMPARE(root.firstChildElement("code").text(), code);
    const QString session = root.firstChildElement("session").text();
    if (code == "OK") {
        QCOMPARE(session.size(), 32);
        QVERIFY(api.verify("alice", session));
        QVERIFY(!api.verify("bob", session));
        QVERIFY(login(api) != session); // every login gets its own token
    } else {
        QVERIFY(root.firstChildElement("session").isNull());
        QCOMPARE(api.sessionCount(), 0);
    }
}

void TestMainServerApi::sessionCommands_data()
{
    QTest::addColumn<QString>("target"); // %1 is the session
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("text");
    QTest::newRow("check") << "/client/check"
                           << "OK"
                           << ""
                           << "";
    QTest::newRow("version") << "/client/version?token=1234"
                             << "OK"
                             << "mandatory"
                             << "1.2.3";
    QTest::newRow("account") << "/client/account?session=%1"
                             << "OK"
                             << "ports"
                             << "5";
    QTest::newRow("account premium") << "/client/account?session=%1"
                                     << "OK"
                                     << "premium"
                                     << "1";
    QTest::newRow("account without session") << "/client/account"
                                             << "DENIED"
                                             << "username"
                                             << "";
    QTest::newRow("account with a made-up session") << "/client/account?session=abc"
                                                    << "DENIED"
                                                    << ""
                                                    << "";
    QTest::newRow("servers premium flag first") << "/client/servers?session=%1"
                                                << "OK"
                                                << "premium"
                                                << "1";
    QTest::newRow("connection") << "/client/connection?session=%1&server_id=1"
                                << "OK"
                                << ""
                                << "";
    QTest::newRow("connection to an offline server") << "/client/connection?session=%1&server_id=2"
                                                     << "OFFLINE"
                                                     << ""
                                                     << "";
    QTest::newRow("connection to no server") << "/client/connection?session=%1&server_id=9"
                                             << "FAILED"
                                             << ""
                                             << "";
    QTest::newRow("connection with a bad id") << "/client/connection?session=%1&server_id=x"
                                              << "FAILED"
                                              << ""
                                              << "";
    QTest::newRow("connection without session") << "/client/connection?server_id=1"
                                                << "DENIED"
                                                << ""
                                                << "";
}

void TestMainServerApi::sessionCommands()
{
    QFETCH(QString, target);
    QFETCH(QString, element);
    MainServerApi api(m_config);
    const QString session = login(api);
    MainServerApi::Reply reply;
    const QDomElement root = answer(api, target.contains("%1") ? target.arg(session) : target, &reply);
    QCOMPARE(reply.status, 200);
    QTEST(root.firstChildElement("code").text(), "code");
    if (!element.isEmpty())
        QTEST(root.firstChildElement(element).text(), "text");
}

// The client starts at the first "server" and follows siblings without checking names, and
// likewise inside: nothing may come after the first server, country or tunnel but its kind.
void TestMainServerApi::serverTreeAsTheClientWalksIt()
{
    MainServerApi api(m_config);
    const QDomElement root = answer(api, "/client/servers?session=" + login(api, "bob"));
    QCOMPARE(root.firstChildElement("premium").text(), QStringLiteral("0"));
    QStringList walked;
    for (QDomElement server = root.firstChildElement("server"); !server.isNull();
         server = server.nextSiblingElement()) {
        QCOMPARE(server.tagName(), QStringLiteral("server"));
        for (QDomElement country = server.firstChildElement("country"); !country.isNull();
             country = country.nextSiblingElement()) {
            QCOMPARE(country.tagName(), QStringLiteral("country"));
            for (QDomElement tunnel = country.firstChildElement("tunnel"); !tunnel.isNull();
                 tunnel = tunnel.nextSiblingElement()) {
                QCOMPARE(tunnel.tagName(), QStringLiteral("tunnel"));
                walked << server.firstChildElement("name").text() + "/" + country.firstChildElement("code").text() + "/"
                        + tunnel.firstChildElement("name").text() + " " + tunnel.firstChildElement("address").text()
                        + " " + tunnel.firstChildElement("protocols").text() + " "
                        + tunnel.firstChildElement("slots").text() + " " + tunnel.firstChildElement("type").text() + " "
                        + tunnel.firstChildElement("state").text();
            }
        }
    }
    QCOMPARE(walked,
        QStringList({ "Europe/fr/paris 198.18.0.11 7 10 0 1", "Europe/de/berlin 198.18.0.12 7 0 2 1",
            "Europe/de/hamburg 198.18.0.14 1 0 0 1" }));
    QCOMPARE(root.lastChildElement("server").firstChildElement("state").text(), QStringLiteral("0"));
}

void TestMainServerApi::faults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QByteArray>("body"); // checked when not empty
    QTest::newRow("login FAILED") << "login" << QByteArray(R"({ "code": "FAILED" })") << 200 << "FAILED"
                                  << QByteArray();
    QTest::newRow("connection FULL") << "connection" << QByteArray(R"({ "code": "FULL" })") << 200 << "FULL"
                                     << QByteArray();
    QTest::newRow("lower-case ok") << "account" << QByteArray(R"({ "code": "ok" })") << 200 << "ok" << QByteArray();
    QTest::newRow("not XML") << "servers" << QByteArray(R"({ "body": "<html>oops" })") << 200 << ""
                             << QByteArray("<html>oops");
    QTest::newRow("server error") << "check" << QByteArray(R"({ "status": 500 })") << 500 << "OK" << QByteArray();
}

void TestMainServerApi::faults()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, fault);
    QFETCH(QByteArray, body);
    QByteArray json = Json;
    json.replace(R"("mandatoryVersion": "1.2.3" })",
        R"("mandatoryVersion": "1.2.3", "faults": { ")" + command.toUtf8() + "\": " + fault + " } }");
    QVERIFY2(m_config.parse(json), qPrintable(m_config.errorString()));
    MainServerApi api(m_config);
    const QString session = command == "login" ? QString() : login(api);
    MainServerApi::Reply reply;
    const QDomElement root = answer(api,
        QString("/client/%1?session=%2&server_id=1&username=alice&password=%3").arg(command, session, AliceDigest),
        &reply);
    QTEST(reply.status, "status");
    if (!body.isEmpty()) {
        QCOMPARE(reply.body, body);
        return;
    }
    QTEST(root.firstChildElement("code").text(), "code");
    if (command == "login")
        QCOMPARE(api.sessionCount(), 0); // a refused login leaves no session behind
}

void TestMainServerApi::refusedRequests_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown command") << "GET"
                                     << "/client/logout" << 404;
    QTest::newRow("command with a trailing slash") << "GET"
                                                   << "/client/check/" << 404;
    QTest::newRow("outside the API") << "GET"
                                     << "/index.html" << 404;
    QTest::newRow("bare prefix") << "GET"
                                 << "/client/" << 404;
    QTest::newRow("POST to a command") << "POST"
                                       << "/client/check" << 400;
    QTest::newRow("credential check without session") << "GET"
                                                      << "/lab/verify?username=alice" << 403;
}

void TestMainServerApi::refusedRequests()
{
    QFETCH(QString, method);
    QFETCH(QString, target);
    MainServerApi api(m_config);
    HttpRequest request = get(target);
    request.method = method;
    const MainServerApi::Reply reply = api.answer(request);
    QTEST(reply.status, "status");
    QVERIFY(!reply.fault.noAnswer && !reply.fault.close && reply.fault.delay == 0);
}

void TestMainServerApi::sessionTableIsBounded()
{
    m_config.maximumSessions = 3;
    MainServerApi api(m_config);
    const QString first = login(api);
    for (int i = 0; i < 10; ++i)
        login(api, "bob");
    QCOMPARE(api.sessionCount(), 3);
    QVERIFY(!api.verify("alice", first)); // the oldest session made room
    const QString last = login(api);
    QVERIFY(api.verify("alice", last));
    QCOMPARE(api.answer(get("/lab/verify?username=alice&session=" + last)).status, 200);
}

NIMBORA_TEST_MAIN(TestMainServerApi, QCoreApplication)
#include "tst_mainserverapi.moc"
