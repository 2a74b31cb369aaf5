#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/mainserveraccess.h"
#include "core/networkproxyfactory.h"
#include "core/networkproxystream.h"
#include "tests/core/proxyenvironment.h"
#include "tests/support/testhttpserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>

class TestMainServerAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void requestLine_data();
    void requestLine();
    void userAgent_data();
    void userAgent();
    void replies_data();
    void replies();
    void unknownCommand();
    void oneObjectSeveralRequests();
    void nestedRequestRefused();
    void silentServerEndsAfterTimeLimit();

private:
    void useServer(const TestHttpServer &server, bool secure);
};

void TestMainServerAccess::initTestCase()
{
    // The machine's proxy environment must not decide where the requests go.
    clearProxyEnvironment();
    registerNetworkProxyMetaType();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
    GlobalValues::setValue(GlobalValues::DefaultUserAgent, QStringLiteral("Nimbora-Fallback/1.0"));
}

void TestMainServerAccess::init()
{
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
}

void TestMainServerAccess::useServer(const TestHttpServer &server, bool secure)
{
    QSettings settings;
    settings.setValue(SettingsKeys::MainServerAddress, server.address());
    settings.setValue(SettingsKeys::MainServerSecure, secure);
}

void TestMainServerAccess::requestLine_data()
{
    QTest::addColumn<bool>("secure");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("check over http, no question mark")
        << false << int(MainServerAccess::Check) << QString() << QByteArray("GET /client/check HTTP/1.1");
    QTest::newRow("check over https") << true << int(MainServerAccess::Check) << QString()
                                      << QByteArray("GET /client/check HTTP/1.1");
    QTest::newRow("version over http") << false << int(MainServerAccess::Version) << QStringLiteral("token=1234")
                                       << QByteArray("GET /client/version?token=1234 HTTP/1.1");
    QTest::newRow("login with an ampersand in the name")
        << true << int(MainServerAccess::Login)
        << QStringLiteral("username=tom&jerry&password=5f4dcc3b5aa765d61d8327deb882cf99&version=1.6.7")
        << QByteArray("GET /client/login?username=tom&jerry&password=5f4dcc3b5aa765d61d8327deb882cf99"
                      "&version=1.6.7 HTTP/1.1");
    QTest::newRow("account") << true << int(MainServerAccess::Account) << QStringLiteral("session=abc123")
                             << QByteArray("GET /client/account?session=abc123 HTTP/1.1");
    QTest::newRow("servers") << false << int(MainServerAccess::Servers) << QStringLiteral("session=abc123")
                             << QByteArray("GET /client/servers?session=abc123 HTTP/1.1");
    QTest::newRow("connection") << true << int(MainServerAccess::Connection)
                                << QStringLiteral("session=abc123&server_id=42")
                                << QByteArray("GET /client/connection?session=abc123&server_id=42 HTTP/1.1");
    // Tolerant parsing still encodes what cannot stand in a request line.
    QTest::newRow("space in a value") << false << int(MainServerAccess::Login)
                                      << QStringLiteral("username=jean luc&password=x&version=1.6.7")
                                      << QByteArray("GET /client/login?username=jean%20luc&password=x&version=1.6.7 "
                                                    "HTTP/1.1");
}

// The bytes on the wire, over the scheme that "mainServerSecure" picks; the https server has a
// self-signed certificate, which must not stop the request.
void TestMainServerAccess::requestLine()
{
    QFETCH(bool, secure);
    QFETCH(int, command);
    QFETCH(QString, query);
    QFETCH(QByteArray, expected);

    TestHttpServer server;
    QVERIFY(server.start(secure));
    useServer(server, secure);
    server.setAnswer(QByteArray(), "<nimbora><code>OK</code><session>s1</session></nimbora>");

    MainServerAccess access;
    const QDomElement root = access.request(MainServerAccess::Command(command), query);
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(root.tagName(), QStringLiteral("nimbora"));
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), QStringLiteral("OK"));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().requestLine, expected);
    QCOMPARE(server.requests().first().headerValues("Host"), { server.address().toLatin1() });
}

void TestMainServerAccess::userAgent_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("from the settings") << QVariant(QStringLiteral("Mozilla/5.0 (Windows NT 10.0)"))
                                       << QByteArray("Mozilla/5.0 (Windows NT 10.0)");
    QTest::newRow("fallback when absent") << QVariant() << QByteArray("Nimbora-Fallback/1.0");
    QTest::newRow("non-ASCII as UTF-8") << QVariant(QStringLiteral("Agent \u00e9")) << QByteArray("Agent \xc3\xa9");
    QTest::newRow("line breaks cannot add headers")
        << QVariant(QStringLiteral("Agent\r\nX-Injected: 1")) << QByteArray("AgentX-Injected: 1");
}

void TestMainServerAccess::userAgent()
{
    QFETCH(QVariant, stored);
    QFETCH(QByteArray, expected);

    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server, false);
    if (stored.isValid())
        QSettings().setValue(SettingsKeys::UserAgent, stored);

    MainServerAccess access;
    access.request(MainServerAccess::Check, QString());
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(server.requests().size(), 1);
    const auto request = server.requests().first();
    QCOMPARE(request.headerValues("User-Agent"), { expected });
    QVERIFY(request.headerValues("X-Injected").isEmpty());
}

void TestMainServerAccess::replies_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("bytes"); // body for Answer, whole reply for Raw
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<bool>("nullRoot");
    QTest::addColumn<QString>("code");

    const int answer = TestHttpServer::Answer;
    const QByteArray xml = "text/xml";
    QTest::newRow("ok") << answer << QByteArray("<?xml version=\"1.0\"?><r><code>OK</code></r>") << xml << 200 << false
                        << false << "OK";
    QTest::newRow("not xml: null root, no error")
        << answer << QByteArray("this is not xml") << xml << 200 << false << true << QString();
    QTest::newRow("empty body") << answer << QByteArray() << xml << 200 << false << true << QString();
    QTest::newRow("no code element") << answer << QByteArray("<r><session>x</session></r>") << xml << 200 << false
                                     << false << QString();
    QTest::newRow("code deeper than a direct child")
        << answer << QByteArray("<r><inner><code>OK</code></inner></r>") << xml << 200 << false << false << QString();
    QTest::newRow("html page with the wrong content type")
        << answer << QByteArray("<html><body><h1>Welcome</h1></body></html>") << QByteArray("text/html") << 200 << false
        << false << QString();
    QTest::newRow("binary body with the wrong content type")
        << answer << QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") << QByteArray("image/png") << 200 << false
        << true << QString();
    QTest::newRow("http error status") << answer << QByteArray("<r><code>OK</code></r>") << xml << 500 << true << true
                                       << QString();
    QTest::newRow("not found") << answer << QByteArray("<r><code>OK</code></r>") << xml << 404 << true << true
                               << QString();
    QTest::newRow("garbage instead of http")
        << int(TestHttpServer::Raw) << QByteArray("\x01\x02garbage\r\n\r\nmore garbage") << QByteArray() << 0 << true
        << true << QString();
    QTest::newRow("truncated body") << int(TestHttpServer::Raw)
                                    << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<r><code>OK</co")
                                    << QByteArray() << 0 << true << true << QString();
    QTest::newRow("connection dropped") << int(TestHttpServer::Drop) << QByteArray() << QByteArray() << 0 << true
                                        << true << QString();
    QTest::newRow("endless body") << int(TestHttpServer::Flood) << QByteArray() << QByteArray() << 0 << true << true
                                  << QString();
    QTest::newRow("entity expansion")
        << answer
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                      "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
                      "]><r><code>&g;</code></r>")
        << xml << 200 << false << true << QString();
}

// Whatever the server sends, the call comes back well within the time limit, and the caller
// can tell a failed request from an answer it does not understand.
void TestMainServerAccess::replies()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, contentType);
    QFETCH(int, status);
    QFETCH(bool, failed);
    QFETCH(bool, nullRoot);
    QFETCH(QString, code);

    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server, false);
    server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    server.setAnswer(QByteArray(), bytes, contentType, status);
    server.setRawAnswer(bytes);

    MainServerAccess access;
    QElapsedTimer elapsed;
    elapsed.start();
    const QDomElement root = access.request(MainServerAccess::Account, QStringLiteral("session=s"));
    QVERIFY2(elapsed.elapsed() < MainServerAccess::TimeLimit, "the answer must not wait for the time limit");
    QCOMPARE(access.error() != QNetworkReply::NoError, failed);
    if (failed)
        QVERIFY(!access.errorString().isEmpty());
    QCOMPARE(root.isNull(), nullRoot);
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), code);
    if (behaviour == TestHttpServer::Flood) {
        QCOMPARE(access.error(), QNetworkReply::UnknownContentError);
        QVERIFY(server.floodBytesSent() > MainServerAccess::MaximumReplySize);
    }
}

void TestMainServerAccess::unknownCommand()
{
    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server, false);

    MainServerAccess access;
    QVERIFY(access.request(MainServerAccess::Command(6), QStringLiteral("session=s")).isNull());
    QVERIFY(access.error() != QNetworkReply::NoError);
    QCoreApplication::processEvents();
    QVERIFY(server.requests().isEmpty());
}

// The object is reused: each request starts clean and the outcome is that of the last one.
void TestMainServerAccess::oneObjectSeveralRequests()
{
    TestHttpServer server;
    QVERIFY(server.start(true));
    useServer(server, true);
    server.setAnswer("account", "<r><code>OK</code><username>first</username></r>");

    MainServerAccess access;
    QCOMPARE(access.request(MainServerAccess::Account, QStringLiteral("session=a"))
                 .firstChildElement(QStringLiteral("username"))
                 .text(),
        QStringLiteral("first"));

    server.setBehaviour(TestHttpServer::Drop);
    QVERIFY(access.request(MainServerAccess::Account, QStringLiteral("session=a")).isNull());
    QVERIFY(access.error() != QNetworkReply::NoError);

    server.setBehaviour(TestHttpServer::Answer);
    server.setAnswer("account", "<r><code>DENIED</code></r>");
    const QDomElement root = access.request(MainServerAccess::Account, QStringLiteral("session=b"));
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), QStringLiteral("DENIED"));
    // Qt itself retries a GET whose connection dropped, so only the last request is known.
    QCOMPARE(server.requests().last().requestLine, QByteArray("GET /client/account?session=b HTTP/1.1"));
}

// An event handled during the wait must not start a second request on the same object.
void TestMainServerAccess::nestedRequestRefused()
{
    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server, false);

    MainServerAccess access;
    bool nestedNull = false;
    QTimer::singleShot(0, &access, [&]() {
        QTest::ignoreMessage(QtWarningMsg, "MainServerAccess: a request is already under way");
        nestedNull = access.request(MainServerAccess::Check, QString()).isNull();
    });
    const QDomElement root = access.request(MainServerAccess::Account, QStringLiteral("session=s"));
    QVERIFY(nestedNull);
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), QStringLiteral("OK"));
    QCOMPARE(server.requests().size(), 1);
}

// The one test here that waits for the product's 10 s limit.
void TestMainServerAccess::silentServerEndsAfterTimeLimit()
{
    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server, false);
    server.setBehaviour(TestHttpServer::Silent);

    MainServerAccess access;
    QElapsedTimer elapsed;
    elapsed.start();
    const QDomElement root = access.request(MainServerAccess::Login, QStringLiteral("username=u&password=p"));
    const qint64 waited = elapsed.elapsed();
    QVERIFY(root.isNull());
    QCOMPARE(access.error(), QNetworkReply::OperationCanceledError);
    QCOMPARE(server.requests().size(), 1);
    QVERIFY2(waited >= MainServerAccess::TimeLimit - 100, QByteArray::number(waited));
    QVERIFY2(waited < MainServerAccess::TimeLimit + 3000, QByteArray::number(waited));
}

NIMBORA_TEST_MAIN(TestMainServerAccess, QCoreApplication)
#include "tst_mainserveraccess.moc"
