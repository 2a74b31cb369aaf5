// The stand-in program itself, on loopback: the HTTP transport end against a fake OpenVPN
// server, the probe, and requests that a careless peer or a hostile one may send.

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
    void transport_data();
    void transport();
    void tunnelStartedAgain();
    void notFound();
    void probe_data();
    void probe();
    void badRequests_data();
    void badRequests();
    void shortBodyIsLogged();

private:
    struct Response
    {
        QByteArray statusLine;
        QHash<QByteArray, QByteArray> headers;
        QByteArray body;
    };

    static bool readResponse(QTcpSocket &socket, Response *response, qint64 bodyBytes = -1);
    QTcpSocket *openvpnPeer();

    QTemporaryDir m_dir;
    QProcess m_service;
    QByteArray m_log;
    QTcpServer m_openvpn;
    quint16 m_mainPort = 0;
    QList<quint16> m_endpointPorts;
};

enum Endpoint { Streamed, Polled, Closing, Http10, NotFound, Dropping, EndpointCount };

void TestStandInService::initTestCase()
{
    QVERIFY(m_openvpn.listen(QHostAddress::LocalHost, 0));
    const QByteArray ovpn
        = R"("openvpn": { "address": "127.0.0.1", "port": )" + QByteArray::number(m_openvpn.serverPort()) + " }";
    const QByteArray config = R"({
      "mainServer": { "listen": [ { "address": "127.0.0.1", "port": 0 } ] },
      "users": [ { "username": "alice", "password": "4cecaff2b30bbe75ce7322109164cfb5" } ],
      "servers": [],
      "endpoints": [
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "transport": { "streamLength": 1000 } },
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "transport": { "streaming": false } },
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "transport": { "streaming": false, "connectionClose": true } },
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "transport": { "streaming": false, "http10": true } },
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "transport": { "notFound": true }, "ping": { "body": "pang" } },
        { "address": "127.0.0.1", "port": 0, )"
        + ovpn + R"(, "ping": { "close": true } }
      ] })";
    QFile file(m_dir.filePath("service.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(config);
    file.close();

    connect(&m_service, &QProcess::readyReadStandardError, this, [this] { m_log += m_service.readAllStandardError(); });
    m_service.start(NIMBORA_SERVICE_PROGRAM, { "--verbose", file.fileName() });
    QVERIFY(m_service.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(" ready\n") || m_service.state() == QProcess::NotRunning, 10000);
    QVERIFY2(m_log.contains(" ready\n"), m_log.constData());

    const QRegularExpression main("main server listening on 127\\.0\\.0\\.1:(\\d+)");
    m_mainPort = quint16(main.match(QString::fromUtf8(m_log)).captured(1).toUInt());
    QRegularExpressionMatchIterator it
        = QRegularExpression("endpoint listening on 127\\.0\\.0\\.1:(\\d+)").globalMatch(QString::fromUtf8(m_log));
    while (it.hasNext())
        m_endpointPorts << quint16(it.next().captured(1).toUInt());
    QVERIFY(m_mainPort != 0);
    QCOMPARE(m_endpointPorts.size(), int(EndpointCount));
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

bool TestStandInService::readResponse(QTcpSocket &socket, Response *response, qint64 bodyBytes)
{
    *response = Response();
    QByteArray data;
    int end = -1;
    while ((end = data.indexOf("\r\n\r\n")) < 0) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(5000))
            return false;
        // Read only up to the end of the header: what follows may be a later response's.
        while (socket.bytesAvailable() && !data.endsWith("\r\n\r\n"))
            data += socket.read(1);
    }
    const QList<QByteArray> lines = data.left(end).split('\n');
    response->statusLine = lines.first().trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        response->headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    if (bodyBytes < 0)
        bodyBytes = response->headers.value("content-length").toLongLong();
    while (response->body.size() < bodyBytes) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(5000))
            return false;
        response->body += socket.read(bodyBytes - response->body.size());
    }
    return true;
}

QTcpSocket *TestStandInService::openvpnPeer()
{
    if (!m_openvpn.hasPendingConnections() && !m_openvpn.waitForNewConnection(5000))
        return nullptr;
    return m_openvpn.nextPendingConnection();
}

void TestStandInService::transport_data()
{
    QTest::addColumn<int>("endpoint");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("connection"); // the Connection header of every answer
    QTest::newRow("streamed downloads, keep-alive")
        << int(Streamed) << QByteArray("HTTP/1.1 200 OK") << QByteArray("keep-alive");
    QTest::newRow("one answer per download")
        << int(Polled) << QByteArray("HTTP/1.1 200 OK") << QByteArray("keep-alive");
    QTest::newRow("Connection: close") << int(Closing) << QByteArray("HTTP/1.1 200 OK") << QByteArray("close");
    QTest::newRow("HTTP/1.0 without Connection") << int(Http10) << QByteArray("HTTP/1.0 200 OK") << QByteArray();
}

// One client session: the download and upload channels are paired by the cookie "session",
// the multipart wrapping is stripped on the way up, and the OpenVPN server's bytes come down
// as response bodies.
void TestStandInService::transport()
{
    QFETCH(int, endpoint);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, connection);
    const quint16 port = m_endpointPorts.at(endpoint);
    const QByteArray cookie = "session=" + QByteArray(QTest::currentDataTag()).toHex().left(32);
    const bool closes = !connection.startsWith("keep");

    QTcpSocket download;
    download.connectToHost(QHostAddress::LocalHost, port);
    download.write(
        "GET /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\nConnection: keep-alive\r\n\r\n");
    Response response;
    QVERIFY(readResponse(download, &response, 0));
    QCOMPARE(response.statusLine, statusLine);
    QCOMPARE(response.headers.value("connection"), connection);
    QCOMPARE(response.headers.value("content-length"), endpoint == Streamed ? QByteArray("1000") : QByteArray("0"));
    QScopedPointer<QTcpSocket> openvpn(openvpnPeer());
    QVERIFY(openvpn);

    // Upstream: a multipart-wrapped POST sent in two pieces; only the payload reaches OpenVPN.
    const QByteArray before = "------WebKitFormBoundaryABCDEFGHIJKLMNOP\r\nContent-Disposition: form-data; "
                              "name=\"file\"; filename=\"abcde.pdf\"\r\nContent-Type: application/pdf\r\n\r\n";
    const QByteArray after = "\r\n------WebKitFormBoundaryABCDEFGHIJKLMNOP--\r\n";
    const QByteArray payload = "upstream bytes of OpenVPN";
    const QByteArray body = before + payload + after;
    QTcpSocket upload;
    upload.connectToHost(QHostAddress::LocalHost, port);
    upload.write("POST /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie
        + "; beforeData=" + QByteArray::number(before.size()) + "; afterData=" + QByteArray::number(after.size())
        + "\r\nContent-Type: multipart/form-data; boundary=----WebKitFormBoundaryABCDEFGHIJKLMNOP\r\n"
          "Content-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body.left(60));
    QVERIFY(upload.waitForBytesWritten(5000));
    upload.write(body.mid(60));
    QVERIFY(upload.waitForBytesWritten(5000));
    QByteArray received;
    while (received.size() < payload.size() && openvpn->waitForReadyRead(5000))
        received += openvpn->readAll();
    QCOMPARE(received, payload);
    QVERIFY(readResponse(upload, &response));
    QCOMPARE(response.statusLine, statusLine);
    QCOMPARE(response.headers.value("connection"), connection);
    if (closes)
        QTRY_COMPARE(upload.state(), QAbstractSocket::UnconnectedState);

    // Downstream.
    openvpn->write("downstream bytes");
    QVERIFY(openvpn->waitForBytesWritten(5000));
    if (endpoint == Streamed) {
        QByteArray bytes;
        while (bytes.size() < 16 && download.waitForReadyRead(5000))
            bytes += download.readAll();
        QCOMPARE(bytes, QByteArray("downstream bytes"));
    } else {
        QScopedPointer<QTcpSocket> again;
        QTcpSocket *channel = &download;
        if (closes) {
            QTRY_COMPARE(download.state(), QAbstractSocket::UnconnectedState);
            again.reset(new QTcpSocket);
            again->connectToHost(QHostAddress::LocalHost, port);
            channel = again.data();
        }
        channel->write("GET /Xy3kq.pdf HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n");
        QVERIFY(readResponse(*channel, &response));
        QCOMPARE(response.statusLine, statusLine);
        QCOMPARE(response.body, QByteArray("downstream bytes"));
    }
    QCOMPARE(m_openvpn.hasPendingConnections(), false); // one OpenVPN connection per session

    // When OpenVPN goes away, so do the session's channels.
    openvpn->disconnectFromHost();
    if (endpoint == Streamed)
        QTRY_COMPARE(download.state(), QAbstractSocket::UnconnectedState);
}

// OpenVPN reconnecting through the client's tunnel comes back with the same session cookie and
// must meet a fresh OpenVPN connection, not the middle of the old stream.
void TestStandInService::tunnelStartedAgain()
{
    const QByteArray request = "GET /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: session=again\r\n\r\n";
    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, m_endpointPorts.at(Polled));
    first.write(request);
    Response response;
    QVERIFY(readResponse(first, &response));
    QScopedPointer<QTcpSocket> oldPeer(openvpnPeer());
    QVERIFY(oldPeer);

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, m_endpointPorts.at(Polled));
    second.write(request);
    QVERIFY(readResponse(second, &response));
    QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QScopedPointer<QTcpSocket> newPeer(openvpnPeer());
    QVERIFY(newPeer);
    QTRY_COMPARE(oldPeer->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(newPeer->state(), QAbstractSocket::ConnectedState);
}

void TestStandInService::notFound()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_endpointPorts.at(NotFound));
    socket.write("GET /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: session=abc\r\n\r\n");
    Response response;
    QVERIFY(readResponse(socket, &response));
    QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
    QVERIFY(!m_openvpn.hasPendingConnections());
}

void TestStandInService::probe_data()
{
    QTest::addColumn<int>("endpoint");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("body"); // empty: closed without an answer
    const QByteArray probe = "GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
    QTest::newRow("pong") << int(Streamed) << probe << QByteArray("pong");
    QTest::newRow("absolute form through a proxy")
        << int(Polled) << QByteArray("GET http://127.0.0.1/ping HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        << QByteArray("pong");
    QTest::newRow("another body") << int(NotFound) << probe << QByteArray("pang");
    QTest::newRow("closed without an answer") << int(Dropping) << probe << QByteArray();
}

void TestStandInService::probe()
{
    QFETCH(int, endpoint);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_endpointPorts.at(endpoint));
    socket.write(request);
    Response response;
    if (body.isEmpty()) {
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(socket.readAll(), QByteArray());
        return;
    }
    QVERIFY(readResponse(socket, &response));
    QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(response.body, body);
}

void TestStandInService::badRequests_data()
{
    QTest::addColumn<int>("endpoint"); // -1: the main server
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QList<int>>("statuses");
    const QByteArray post = "POST /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\nCookie: session=bad";
    QTest::newRow("garbage") << -1 << QByteArray("\x16\x03\x01\x02\x01\x01\xfc\r\n\r\n") << QList<int> { 400 };
    QTest::newRow("unknown command") << -1 << QByteArray("GET /client/logout HTTP/1.1\r\n\r\n") << QList<int> { 404 };
    QTest::newRow("chunked body") << -1
                                  << QByteArray("POST /client/check HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << QList<int> { 400 };
    QTest::newRow("endless header") << -1 << QByteArray("GET /client/check HTTP/1.1\r\nX: ") + QByteArray(40000, 'x')
                                    << QList<int> { 400 };
    QTest::newRow("body longer than announced")
        << -1 << QByteArray("GET /client/check HTTP/1.1\r\nContent-Length: 2\r\n\r\nabEXTRA BYTES\r\n\r\n")
        << QList<int> { 200, 400 };
    QTest::newRow("keep-alive requests one after the other")
        << int(Polled)
        << QByteArray("GET /ping HTTP/1.1\r\n\r\nGET /ping HTTP/1.1\r\n\r\nGET /nothing HTTP/1.1\r\n\r\n")
        << QList<int> { 200, 200, 404 };
    QTest::newRow("download without session cookie")
        << int(Polled) << QByteArray("GET /index.php HTTP/1.1\r\nCookie: other=1\r\n\r\n") << QList<int> { 400 };
    QTest::newRow("upload with a malformed size cookie")
        << int(Polled) << post + "; beforeData=1x; afterData=1\r\n\r\nhello" << QList<int> { 400 };
    QTest::newRow("multipart upload without size cookies")
        << int(Polled) << post + "\r\nContent-Type: multipart/form-data; boundary=x\r\n\r\nhello" << QList<int> { 400 };
    QTest::newRow("wrapping larger than the body")
        << int(Polled) << post + "; beforeData=4; afterData=4\r\n\r\nhello" << QList<int> { 400 };
    QTest::newRow("upload to a .pdf") << int(Polled) << QByteArray("POST /a.pdf HTTP/1.1\r\nCookie: session=x\r\n\r\n")
                                      << QList<int> { 404 };
    QTest::newRow("path that only ends in .pdf")
        << int(Polled) << QByteArray("GET /dir/a.pdf HTTP/1.1\r\nCookie: session=x\r\n\r\n") << QList<int> { 404 };
}

// Each bad request gets its status and a log line, and the stand-in keeps serving.
void TestStandInService::badRequests()
{
    QFETCH(int, endpoint);
    QFETCH(QByteArray, request);
    QFETCH(QList<int>, statuses);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, endpoint < 0 ? m_mainPort : m_endpointPorts.at(endpoint));
    socket.write(request);
    for (const int status : qAsConst(statuses)) {
        Response response;
        QVERIFY(readResponse(socket, &response));
        QVERIFY2(response.statusLine.startsWith("HTTP/1.1 " + QByteArray::number(status)), response.statusLine);
    }
    if (statuses.last() >= 400)
        QTRY_VERIFY(m_log.contains(" " + QByteArray::number(statuses.last()) + "\n"));
    QVERIFY(!m_openvpn.hasPendingConnections()); // a refused request opens no OpenVPN connection

    QTcpSocket check;
    check.connectToHost(QHostAddress::LocalHost, m_mainPort);
    check.write("GET /client/check HTTP/1.1\r\n\r\n");
    Response response;
    QVERIFY(readResponse(check, &response));
    QVERIFY(response.body.contains("<code>OK</code>"));
}

void TestStandInService::shortBodyIsLogged()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_endpointPorts.at(Polled));
    socket.write("POST /index.php HTTP/1.1\r\nCookie: session=short\r\nContent-Length: 10\r\n\r\nabc");
    QVERIFY(socket.waitForBytesWritten(5000));
    QScopedPointer<QTcpSocket> openvpn(openvpnPeer());
    QVERIFY(openvpn);
    QTRY_COMPARE(openvpn->bytesAvailable(), qint64(3)); // what came is passed on at once
    socket.disconnectFromHost();
    QTRY_VERIFY(m_log.contains("body shorter than announced, 7 of 10 bytes missing"));
}

NIMBORA_TEST_MAIN(TestStandInService, QCoreApplication)
#include "tst_standinservice.moc"
