#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/mainserveraccess.h"
#include "core/mainservercall.h"
#include "core/networkproxyfactory.h"
#include "core/networkproxystream.h"
#include "tests/core/proxyenvironment.h"
#include "tests/support/ports.h"
#include "tests/support/testcertificate.h"
#include "tests/support/testhttpserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>

Q_DECLARE_METATYPE(MainServerReply::Status)
Q_DECLARE_METATYPE(TestCertificate::Kind)

namespace {
const QString BrokenPin = QStringLiteral("bm90IGEgZGlnZXN0");
} // namespace

// The main server's client and what the works make of its replies: every reply handling rule is
// tested here once; the works' suites keep only their own errors and what they store.
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
    void certificate_data();
    void certificate();
    void pinnedKey_data();
    void pinnedKey();
    void silentServerEndsAfterTimeLimit();

private:
    TestHttpServer m_server;
    TestHttpServer m_tlsServer;
};

void TestMainServerAccess::initTestCase()
{
    clearProxyEnvironment();
    registerNetworkProxyMetaType();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
    GlobalValues::setValue(GlobalValues::DefaultUserAgent, QStringLiteral("Nimbora-Fallback/1.0"));
    QVERIFY(m_server.start(false));
    QVERIFY(m_tlsServer.start(true));
}

void TestMainServerAccess::init()
{
    QSettings().clear();
    m_server.useAsMainServer();
    m_server.setBehaviour(TestHttpServer::Answer);
    m_server.setAnswer(QByteArray(), "<nimbora><code>OK</code></nimbora>");
}

void TestMainServerAccess::requestLine_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<MainServerAccess::Command>("command");
    QTest::addColumn<QString>("target");

    // Each work checks its own command's request line.
    using Access = MainServerAccess;
    QTest::newRow("check, no question mark") << "" << false << Access::Check << "/client/check";
    QTest::newRow("check over https") << "" << true << Access::Check << "/client/check";
    // Encoded values stay as they are; what cannot stand in a request line is encoded.
    QTest::newRow("login") << "username=tom%26jerry&password=jean luc" << true << Access::Login
                           << "/client/login?username=tom%26jerry&password=jean%20luc";
}

// The bytes on the wire, over the scheme that "mainServerSecure" picks; the https server is
// reached by its address, while its certificate names only the built-in host.
void TestMainServerAccess::requestLine()
{
    QFETCH(QString, query);
    QFETCH(bool, secure);
    QFETCH(MainServerAccess::Command, command);
    QFETCH(QString, target);

    TestHttpServer &server = secure ? m_tlsServer : m_server;
    server.useAsMainServer();
    const int before = server.requests().size();
    MainServerAccess access;
    QCOMPARE(access.request(command, query).tagName(), QStringLiteral("nimbora"));
    QCOMPARE(server.requests().size(), before + 1);
    QCOMPARE(server.requests().last().requestLine, "GET " + target.toLatin1() + " HTTP/1.1");
    QCOMPARE(server.requests().last().headerValues("Host"), { server.address().toLatin1() });
}

void TestMainServerAccess::userAgent_data()
{
    QTest::addColumn<QString>("stored"); // null: none
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("from the settings") << "Mozilla/5.0 (Windows NT 10.0)"
                                       << QByteArray("Mozilla/5.0 (Windows NT 10.0)");
    QTest::newRow("fallback when absent") << QString() << QByteArray("Nimbora-Fallback/1.0");
    QTest::newRow("non-ASCII as UTF-8") << "Agent \u00e9" << QByteArray("Agent \xc3\xa9");
    QTest::newRow("line breaks cannot add headers") << "Agent\r\nX-Injected: 1" << QByteArray("AgentX-Injected: 1");
}

void TestMainServerAccess::userAgent()
{
    QFETCH(QString, stored);
    QFETCH(QByteArray, expected);

    if (!stored.isNull())
        QSettings().setValue(SettingsKeys::UserAgent, stored);
    MainServerAccess access;
    QVERIFY(!access.request(MainServerAccess::Check, QString()).isNull());
    const auto request = m_server.requests().last();
    QCOMPARE(request.headerValues("User-Agent"), { expected });
    QVERIFY(request.headerValues("X-Injected").isEmpty());
}

void TestMainServerAccess::replies_data()
{
    QTest::addColumn<int>("behaviour"); // -1: nothing listens on the port
    QTest::addColumn<QString>("bytes"); // the body, or the whole reply for Raw
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<MainServerReply::Status>("status");
    QTest::addColumn<QString>("code");

    const int answer = TestHttpServer::Answer;
    const int raw = TestHttpServer::Raw;
    const auto ok = MainServerReply::Ok;
    const auto other = MainServerReply::OtherCode;
    const auto none = MainServerReply::NoReply;
    QTest::newRow("OK") << answer << "<?xml version=\"1.0\"?><r><code>OK</code></r>" << 200 << ok << "OK";
    QTest::newRow("DENIED") << answer << "<r><code>DENIED</code></r>" << 200 << MainServerReply::Denied << "DENIED";
    QTest::newRow("another code") << answer << "<r><code>FAILED</code></r>" << 200 << other << "FAILED";
    QTest::newRow("codes are case-sensitive") << answer << "<r><code>ok</code></r>" << 200 << other << "ok";
    QTest::newRow("code below a child") << answer << "<r><in><code>OK</code></in></r>" << 200 << other << "";
    QTest::newRow("not XML") << answer << "OK" << 200 << other << "";
    // Each entity ten of the one before: 40 MB once expanded.
    QString entities = "<!ENTITY a \"" + QString(40, 'a') + "\">";
    for (char name = 'b'; name <= 'g'; ++name)
        entities += QStringLiteral("<!ENTITY %1 \"%2\">")
                        .arg(name)
                        .arg(QStringLiteral("&%1;").arg(char(name - 1)).repeated(10));
    QTest::newRow("entity expansion") << answer << "<!DOCTYPE r [" + entities + "]><r><code>&g;</code></r>" << 200
                                      << other << "";
    QTest::newRow("HTTP error status") << answer << "<r><code>OK</code></r>" << 500 << none << "";
    QTest::newRow("garbage instead of HTTP") << raw << "\x01\x02garbage\r\n\r\nmore" << 0 << none << "";
    QTest::newRow("cut body") << raw << "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<r><code>OK</co" << 0 << none
                              << "";
    QTest::newRow("connection dropped") << int(TestHttpServer::Drop) << "" << 0 << none << "";
    QTest::newRow("endless body") << int(TestHttpServer::Flood) << "" << 0 << none << "";
    QTest::newRow("nobody listens") << -1 << "" << 0 << none << "";
}

// Whatever the server sends, the call comes back well within the time limit, and a failed
// request is told apart from an answer that is not "OK".
void TestMainServerAccess::replies()
{
    QFETCH(int, behaviour);
    QFETCH(QString, bytes);
    QFETCH(int, httpStatus);
    QFETCH(MainServerReply::Status, status);
    QFETCH(QString, code);

    RefusingPort refusing;
    if (behaviour < 0)
        QSettings().setValue(SettingsKeys::MainServerAddress, QStringLiteral("127.0.0.1:%1").arg(refusing.port()));
    m_server.setBehaviour(TestHttpServer::Behaviour(qMax(behaviour, 0)));
    m_server.setAnswer(QByteArray(), bytes.toUtf8(), "text/xml", httpStatus);
    m_server.setRawAnswer(bytes.toUtf8());

    MainServerAccess access;
    QElapsedTimer elapsed;
    elapsed.start();
    const MainServerReply reply
        = MainServerCall::reply(access, access.request(MainServerAccess::Account, QStringLiteral("session=s")));
    QVERIFY2(elapsed.elapsed() < MainServerAccess::TimeLimit, "the answer must not wait for the time limit");
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.code, code);
    QCOMPARE(access.error() != QNetworkReply::NoError, status == MainServerReply::NoReply);
    if (status == MainServerReply::NoReply)
        QVERIFY(!access.errorString().isEmpty());
    if (status == MainServerReply::Ok)
        QCOMPARE(reply.root.tagName(), QStringLiteral("r"));
    if (behaviour == TestHttpServer::Flood) {
        QCOMPARE(access.error(), QNetworkReply::UnknownContentError);
        QVERIFY(m_server.floodBytesSent() > MainServerAccess::MaximumReplySize);
    }
}

void TestMainServerAccess::unknownCommand()
{
    const int before = m_server.requests().size();
    MainServerAccess access;
    QVERIFY(access.request(MainServerAccess::Command(6), QStringLiteral("session=s")).isNull());
    QVERIFY(access.error() != QNetworkReply::NoError);
    QCoreApplication::processEvents();
    QCOMPARE(m_server.requests().size(), before);
}

// The object is reused: each request starts clean and the outcome is that of the last one.
void TestMainServerAccess::oneObjectSeveralRequests()
{
    m_tlsServer.useAsMainServer();
    m_tlsServer.setAnswer("account", "<r><code>OK</code><username>first</username></r>");
    MainServerAccess access;
    const QDomElement first = access.request(MainServerAccess::Account, QStringLiteral("session=a"));
    QCOMPARE(first.firstChildElement(QStringLiteral("username")).text(), QStringLiteral("first"));

    m_tlsServer.setBehaviour(TestHttpServer::Drop);
    QVERIFY(access.request(MainServerAccess::Account, QStringLiteral("session=a")).isNull());
    QVERIFY(access.error() != QNetworkReply::NoError);

    m_tlsServer.setBehaviour(TestHttpServer::Answer);
    m_tlsServer.setAnswer("account", "<r><code>DENIED</code></r>");
    const QDomElement root = access.request(MainServerAccess::Account, QStringLiteral("session=b"));
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), QStringLiteral("DENIED"));
    // Qt itself retries a GET whose connection dropped, so only the last request is known.
    QCOMPARE(m_tlsServer.requests().last().requestLine, QByteArray("GET /client/account?session=b HTTP/1.1"));
}

// An event handled during the wait must not start a second request on the same object.
void TestMainServerAccess::nestedRequestRefused()
{
    MainServerAccess access;
    bool nestedNull = false;
    QTimer::singleShot(0, &access, [&]() {
        QTest::ignoreMessage(QtWarningMsg, "MainServerAccess: a request is already under way");
        nestedNull = access.request(MainServerAccess::Check, QString()).isNull();
    });
    const int before = m_server.requests().size();
    const QDomElement root = access.request(MainServerAccess::Account, QStringLiteral("session=s"));
    QVERIFY(nestedNull);
    QCOMPARE(access.error(), QNetworkReply::NoError);
    QCOMPARE(root.firstChildElement(QStringLiteral("code")).text(), QStringLiteral("OK"));
    QCOMPARE(m_server.requests().size(), before + 1);
}

void TestMainServerAccess::certificate_data()
{
    QTest::addColumn<TestCertificate::Kind>("kind");
    QTest::addColumn<bool>("authorityNamed"); // NIMBORA_MAIN_SERVER_CA names the test authority's file
    QTest::addColumn<QString>("reason"); // empty: answered

    QTest::newRow("built-in name, trusted authority") << TestCertificate::Valid << true << "";
    QTest::newRow("wrong name") << TestCertificate::WrongName << true << "host name did not match";
    QTest::newRow("unknown authority") << TestCertificate::UnknownAuthority << true << "issuer certificate";
    QTest::newRow("expired") << TestCertificate::Expired << true << "expired";
    QTest::newRow("authority file unreadable") << TestCertificate::Valid << false << "issuer certificate";
}

// A forged main server: a certificate that does not lead to a trusted authority for the
// built-in host name ends the request in the handshake. The server never sees a request byte,
// so neither the login digest nor a session leaks, and the caller sees the server as unreachable.
void TestMainServerAccess::certificate()
{
    QFETCH(TestCertificate::Kind, kind);
    QFETCH(bool, authorityNamed);
    QFETCH(QString, reason);

    TestHttpServer server;
    server.setCertificate(kind);
    QVERIFY(server.start(true));
    server.useAsMainServer();
    const auto restore
        = qScopeGuard([]() { qputenv("NIMBORA_MAIN_SERVER_CA", QFile::encodeName(TestCertificate::authorityFile())); });
    if (!authorityNamed) {
        qputenv("NIMBORA_MAIN_SERVER_CA", "/nonexistent/ca.crt");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("NIMBORA_MAIN_SERVER_CA names \"/nonexistent/ca.crt\""));
    }
    if (!reason.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("certificate is refused: .*" + reason));

    MainServerAccess access;
    const MainServerReply reply = MainServerCall::reply(access,
        access.request(
            MainServerAccess::Login, QStringLiteral("username=alice&password=0123456789abcdef0123456789abcdef")));

    QCOMPARE(reply.status, reason.isEmpty() ? MainServerReply::Ok : MainServerReply::NoReply);
    // Once the server has seen the connection end, it has read all that came on it.
    QTRY_VERIFY(server.findChildren<QTcpSocket *>().isEmpty());
    QCOMPARE(server.requests().size(), reason.isEmpty() ? 1 : 0);
    if (!reason.isEmpty()) {
        QCOMPARE(access.error(), QNetworkReply::SslHandshakeFailedError);
        QVERIFY2(access.errorString().contains(reason), qPrintable(access.errorString()));
    }
}

void TestMainServerAccess::pinnedKey_data()
{
    QTest::addColumn<QString>("pins"); // "<own>" stands for the stand-in's key
    QTest::addColumn<bool>("secure");
    QTest::addColumn<TestCertificate::Kind>("kind");
    QTest::addColumn<QNetworkReply::NetworkError>("error"); // NoError: answered

    const QString other = QCryptographicHash::hash("another key", QCryptographicHash::Sha256).toBase64();
    const auto valid = TestCertificate::Valid;
    const auto refused = QNetworkReply::SslHandshakeFailedError;
    // Pins decide alone: an own key passes whoever signed its certificate.
    QTest::newRow("own key among others, unknown authority")
        << other + "; <own>\t" + other << true << TestCertificate::UnknownAuthority << QNetworkReply::NoError;
    QTest::newRow("another key, trusted certificate") << other << true << valid << refused;
    QTest::newRow("only a broken pin") << BrokenPin << true << valid << refused;
    QTest::newRow("plain http refused") << "<own>" << false << valid << QNetworkReply::ProtocolUnknownError;
}

// A key that is not pinned ends the request in the handshake: the server never sees the GET,
// and the caller sees the main server as unreachable.
void TestMainServerAccess::pinnedKey()
{
    QFETCH(QString, pins);
    QFETCH(bool, secure);
    QFETCH(TestCertificate::Kind, kind);
    QFETCH(QNetworkReply::NetworkError, error);

    const QString ownPin = TestHttpServer::certificateKeyPin();
    QVERIFY(!ownPin.isEmpty());
    if (pins == BrokenPin)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ignoring the key pin"));
    if (error == QNetworkReply::SslHandshakeFailedError)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not among the pinned keys"));
    if (!secure)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Plain HTTP to the main server is refused"));
    const auto restore
        = qScopeGuard([]() { MainServerAccess::setPinnedKeys(QStringLiteral(NIMBORA_MAIN_SERVER_PIN)); });
    MainServerAccess::setPinnedKeys(pins.replace(QLatin1String("<own>"), ownPin));
    TestHttpServer server;
    server.setCertificate(kind);
    QVERIFY(server.start(secure));
    server.useAsMainServer();

    MainServerAccess access;
    const MainServerReply reply = MainServerCall::reply(access, access.request(MainServerAccess::Check, QString()));

    QCOMPARE(reply.status, error == QNetworkReply::NoError ? MainServerReply::Ok : MainServerReply::NoReply);
    QTRY_VERIFY(server.findChildren<QTcpSocket *>().isEmpty());
    QCOMPARE(server.requests().size(), error == QNetworkReply::NoError ? 1 : 0);
    QCOMPARE(access.error(), error);
}

// The one test here that waits for the product's 10 s limit.
void TestMainServerAccess::silentServerEndsAfterTimeLimit()
{
    m_server.setBehaviour(TestHttpServer::Silent);
    const int before = m_server.requests().size();
    MainServerAccess access;
    QElapsedTimer elapsed;
    elapsed.start();
    const QDomElement root = access.request(MainServerAccess::Login, QStringLiteral("username=u&password=p"));
    const qint64 waited = elapsed.elapsed();
    QVERIFY(root.isNull());
    QCOMPARE(access.error(), QNetworkReply::OperationCanceledError);
    QCOMPARE(m_server.requests().size(), before + 1);
    QVERIFY2(waited >= MainServerAccess::TimeLimit - 100, QByteArray::number(waited));
    QVERIFY2(waited < MainServerAccess::TimeLimit + 3000, QByteArray::number(waited));
}

NIMBORA_TEST_MAIN(TestMainServerAccess, QCoreApplication)
#include "tst_mainserveraccess.moc"
