// The stand-in program on loopback against requests that a careless or hostile peer may send:
// each gets its answer or a log line, opens no OpenVPN connection, and the stand-in serves on.

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

class TestStandInService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void badRequests_data();
    void badRequests();

private:
    enum Peer { Main, Endpoint, Gateway };
    quint16 port(const char *what) const;

    QTemporaryDir m_dir;
    QProcess m_service;
    QByteArray m_log;
    QTcpServer m_openvpn;
};

namespace {
// Status and body of the next answer on socket; status 0 when none comes.
int readAnswer(QTcpSocket &socket, QByteArray *body)
{
    QByteArray head;
    while (!head.endsWith("\r\n\r\n")) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(5000))
            return 0;
        head += socket.read(1); // no further: what follows may be the next answer
    }
    const qint64 length = QRegularExpression("Content-Length: (\\d+)").match(head).captured(1).toLongLong();
    for (*body = QByteArray(); body->size() < length;) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(5000))
            return 0;
        *body += socket.read(length - body->size());
    }
    return head.mid(9, 3).toInt();
}
} // namespace

void TestStandInService::initTestCase()
{
    QVERIFY(m_openvpn.listen(QHostAddress::LocalHost, 0));
    // The user's password is "pw"; the client sends its MD5 digest.
    const QByteArray config = R"({ "mainServer": { "listen": [ { "address": "127.0.0.1", "port": 0 } ] },
      "users": [ { "username": "a&b+c=d", "password": "8fe4c11451281c094a6578e6ddbf5eed" } ], "servers": [],
      "endpoints": [ { "address": "127.0.0.1", "port": 0, "openvpn": { "address": "127.0.0.1", "port": )"
        + QByteArray::number(m_openvpn.serverPort())
        + R"( } } ], "gateways": [ { "address": "127.0.0.1", "ssdpPort": 0, "httpPort": 0 } ] })";
    QFile file(m_dir.filePath("service.json"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
    file.close();

    connect(&m_service, &QProcess::readyReadStandardError, this, [this] { m_log += m_service.readAllStandardError(); });
    m_service.start(NIMBORA_SERVICE_PROGRAM, { "--verbose", file.fileName() });
    QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(" ready\n") || m_service.state() == QProcess::NotRunning, 10000);
    QVERIFY2(m_log.contains(" ready\n"), m_log.constData());
}

void TestStandInService::cleanupTestCase()
{
    m_service.terminate();
    QVERIFY(m_service.waitForFinished(10000));
    m_log += m_service.readAllStandardError();
    QCOMPARE(m_service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_service.exitCode(), 0);
    QVERIFY2(!m_log.contains("Sanitizer") && !m_log.contains("runtime error"), m_log.constData());
}

quint16 TestStandInService::port(const char *what) const
{
    const QRegularExpression line(QString::fromLatin1(what) + " listening on 127\\.0\\.0\\.1:(\\d+)");
    return quint16(line.match(QString::fromUtf8(m_log)).captured(1).toUInt());
}

void TestStandInService::badRequests_data()
{
    QTest::addColumn<int>("peer");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statuses"); // of the answers in order; empty: the peer closes, no answer
    QTest::addColumn<QByteArray>("text"); // in the last answer's body if it is below 400, else in the log
    const auto row
        = [](const char *name, Peer peer, const QByteArray &request, const char *statuses, const char *text) {
              QTest::newRow(name) << int(peer) << request << QByteArray(statuses) << QByteArray(text);
          };

    const QByteArray get = "GET /client/check HTTP/1.1\r\n";
    const QByteArray upload = "POST /index.php HTTP/1.1\r\nContent-Length: 5\r\nCookie: session=s1";
    const QByteArray login = "GET /client/login?username=a%26b%2Bc%3Dd&password=8fe4c11451281c094a6578e6ddbf5eed";
    row("TLS hello on the HTTP port", Main, "\x16\x03\x01\x02\x01\x01\xfc\r\n\r\n", "400", "malformed request line");
    row("HTTP/2", Main, "GET / HTTP/2.0\r\n\r\n", "400", "unsupported protocol version");
    row("bare LF", Main, get + "Host: x\nA: b\r\n\r\n", "400", "line 2 does not end with CR LF");
    row("NUL in a value", Main, get + "A: b" + '\0' + "c\r\n\r\n", "400", "stray CR or NUL byte");
    row("folded header", Main, get + "A: b\r\n c\r\n\r\n", "400", "folded header line");
    row("endless header", Main, get + "X: " + QByteArray(40000, 'x'), "400", "header longer than 16384 bytes");
    row("too many header lines", Main, get + QByteArray("A: b\r\n").repeated(65) + "\r\n", "400", "more than 64");
    row("chunked body", Main, get + "Transfer-Encoding: chunked\r\n\r\n", "400", "Transfer-Encoding is not");
    row("length overflowing", Main, get + "Content-Length: 99999999999999999999\r\n\r\n", "400", "malformed Content");
    row("length above the bound", Main, get + "Content-Length: 67108865\r\n\r\n", "400", "Content-Length above");
    row("conflicting lengths", Main, get + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", "400", "conflicting");
    row("body longer than announced", Main, get + "Content-Length: 2\r\n\r\nabEXTRA\r\n\r\n", "200 400", "malformed");
    row("requests one after the other", Main, get + "\r\n" + get + "\r\nGET /x HTTP/1.1\r\n\r\n", "200 200 404", "/x");
    row("unknown command", Main, "GET /client/logout HTTP/1.1\r\n\r\n", "404", "unknown command");
    row("command as POST", Main, "POST /client/check HTTP/1.1\r\n\r\n", "400", "commands are GET requests");
    row("header cut by the peer", Main, get + "Host:", "", "closed in the middle of a request header");
    row("body cut by the peer", Main, get + "Content-Length: 10\r\n\r\nabc", "", "7 of 10 bytes missing");
    row("encoded &, + and = in a user name", Main, login + " HTTP/1.1\r\n\r\n", "200", "<code>OK</code>");
    row("raw & splits a user name", Main, QByteArray(login).replace("%26", "&") + " HTTP/1.1\r\n\r\n", "200",
        "<code>DENIED</code>");
    row("download without session cookie", Endpoint, "GET /index.php HTTP/1.1\r\n\r\n", "400", "cookie \"session\"");
    row("malformed size cookie", Endpoint, upload + "; beforeData=1x\r\n\r\nhello", "400", "malformed cookie");
    row("multipart without size cookies", Endpoint,
        upload + "\r\nContent-Type: multipart/form-data; boundary=x\r\n\r\nhello", "400", "multipart upload without");
    row("wrapping larger than the body", Endpoint, upload + "; beforeData=4; afterData=4\r\n\r\nhello", "400",
        "does not fit a body of 5 bytes");
    row("upload to a .pdf", Endpoint, "POST /a.pdf HTTP/1.1\r\nCookie: session=s2\r\n\r\n", "404", "unknown path");
    row("path that only ends in .pdf", Endpoint, "GET /d/a.pdf HTTP/1.1\r\nCookie: session=s3\r\n\r\n", "404",
        "unknown path");
    const QByteArray soap = "POST /ctl/IPConn HTTP/1.1\r\nSOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#"
                            "AddPortMapping\"\r\nContent-Length: ";
    const QByteArray envelope
        = "<s:Envelope xmlns:s=\"s\"><s:Body><u:DeletePortMapping xmlns:u=\"u\"/></s:Body></s:Envelope>";
    const QByteArray subscribe = "SUBSCRIBE /evt/IPConn HTTP/1.1\r\n";
    row("SOAP body not XML", Gateway, soap + "3\r\n\r\n<<<", "500", "not an envelope with an action");
    row("SOAPAction of another action", Gateway, soap + QByteArray::number(envelope.size()) + "\r\n\r\n" + envelope,
        "500", "does not name the action DeletePortMapping");
    row("SOAP body above the bound", Gateway, soap + "65537\r\n\r\n", "413", "body above 65536 bytes");
    row("callback to a host name", Gateway, subscribe + "NT: upnp:event\r\nCALLBACK: <http://gw.example/e>\r\n\r\n",
        "412", "CALLBACK <http://IPv4 address");
    row("renewal of an unknown SID", Gateway, subscribe + "SID: uuid:x\r\n\r\n", "412", "unknown or expired SID");
}

void TestStandInService::badRequests()
{
    QFETCH(int, peer);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statuses);
    QFETCH(QByteArray, text);
    const int logStart = m_log.size();
    QTcpSocket socket;
    const char *names[] = { "main server", "endpoint", "gateway" };
    socket.connectToHost(QHostAddress::LocalHost, port(names[peer]));
    socket.write(request);
    QByteArray body;
    int status = 0;
    for (const QByteArray &expected : statuses.split(' ')) {
        if (expected.isEmpty()) {
            QVERIFY(socket.waitForBytesWritten(5000));
            socket.disconnectFromHost();
            break;
        }
        status = readAnswer(socket, &body);
        QCOMPARE(status, expected.toInt());
    }
    if (status > 0 && status < 400)
        QVERIFY2(body.contains(text), body.constData());
    else
        QTRY_VERIFY2(m_log.indexOf(text, logStart) >= 0, m_log.mid(logStart).constData());
    QVERIFY(!m_openvpn.hasPendingConnections());

    QTcpSocket check;
    check.connectToHost(QHostAddress::LocalHost, port("main server"));
    check.write("GET /client/check HTTP/1.1\r\n\r\n");
    QCOMPARE(readAnswer(check, &body), 200);
}

NIMBORA_TEST_MAIN(TestStandInService, QCoreApplication)
#include "tst_standinservice.moc"
