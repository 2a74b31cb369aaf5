#include "tunnels/httpserver.h"

#include "base/settingskeys.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QByteArray Session("0123456789abcdef0123456789abcdef");
const QByteArray UserAgent("TestAgent/1.0");
const QByteArray HeaderEnd("\r\n\r\n");
const QByteArray Ok("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (int i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(i);
    return bytes;
}

QByteArray okWithBody(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// The VPN server's end, played by the test: every accepted connection and what it received.
class ScriptedPeer : public QTcpServer
{
public:
    struct Connection
    {
        QTcpSocket *socket = nullptr;
        QByteArray received;
        bool reading = true;
    };

    ScriptedPeer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                auto connection = std::make_shared<Connection>();
                connection->socket = socket;
                socket->setReadBufferSize(64 * 1024);
                connect(socket, &QTcpSocket::readyRead, this, [connection] {
                    if (connection->reading)
                        connection->received += connection->socket->readAll();
                });
                connections.append(connection);
            }
        });
        listen(Loopback, 0);
    }

    // The connection whose first bytes are a request with this method, in the order they came.
    std::shared_ptr<Connection> channel(const QByteArray &method, int index = 0) const
    {
        for (const auto &connection : connections) {
            if (connection->received.startsWith(method + ' ') && index-- == 0)
                return connection;
        }
        return nullptr;
    }

    void setReading(const std::shared_ptr<Connection> &connection, bool reading)
    {
        connection->reading = reading;
        if (reading)
            connection->received += connection->socket->readAll();
    }

    QList<std::shared_ptr<Connection>> connections;
};

// Requests in the order they came on one connection: header text and body.
struct Request
{
    QByteArray header;
    QByteArray body;
};

QList<Request> splitRequests(QByteArray bytes, bool *complete = nullptr)
{
    QList<Request> requests;
    if (complete)
        *complete = true;
    while (!bytes.isEmpty()) {
        const int end = bytes.indexOf(HeaderEnd);
        if (end < 0) {
            if (complete)
                *complete = false;
            break;
        }
        Request request;
        request.header = bytes.left(end + HeaderEnd.size());
        const QRegularExpression lengthLine(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
        const auto match = lengthLine.match(QString::fromLatin1(request.header));
        const int length = match.hasMatch() ? match.captured(1).toInt() : 0;
        request.body = bytes.mid(request.header.size(), length);
        if (request.body.size() < length && complete)
            *complete = false;
        bytes.remove(0, request.header.size() + request.body.size());
        requests.append(request);
    }
    return requests;
}

} // namespace

class TestHttpTunnel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void downloadRequests();
    void downloadData_data();
    void downloadData();
    void keepAlive_data();
    void keepAlive();
    void errorStatus_data();
    void errorStatus();
    void plainUploads();
    void streamedUploads_data();
    void streamedUploads();
    void secondConnectionStartsClean();
    void secondConnectionWhileCarrying();
    void proxyCredentials();
    void boundedMemory_data();
    void boundedMemory();

private:
    // Server and client up, through the first answer; afterwards download is the download channel.
    void connectTunnel(bool answerIndex = true);
    void startServer();
    QByteArray waitForRequest(const std::shared_ptr<ScriptedPeer::Connection> &connection, int index);

    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<HttpServer> server;
    std::unique_ptr<QSignalSpy> logSpy;
    std::unique_ptr<QTcpSocket> client;
    QByteArray clientReceived;
    std::shared_ptr<ScriptedPeer::Connection> download;
};

void TestHttpTunnel::init()
{
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::UserAgent, QString::fromLatin1(UserAgent));
    peer.reset(new ScriptedPeer);
    QVERIFY(peer->isListening());
    clientReceived.clear();
    download.reset();
}

void TestHttpTunnel::cleanup()
{
    client.reset();
    if (server)
        server->close();
    logSpy.reset();
    server.reset();
    peer.reset();
}

void TestHttpTunnel::startServer()
{
    server.reset(new HttpServer);
    logSpy.reset(new QSignalSpy(server.get(), &HttpServer::log));
    server->setHost(Loopback.toString());
    server->setPort(peer->serverPort());
    server->setSession(QString::fromLatin1(Session));
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
}

void TestHttpTunnel::connectTunnel(bool answerIndex)
{
    if (!server)
        startServer();
    client.reset(new QTcpSocket);
    connect(client.get(), &QTcpSocket::readyRead, this, [this] { clientReceived += client->readAll(); });
    client->connectToHost(Loopback, server->serverPort());
    QVERIFY(client->waitForConnected(5000));
    QTRY_VERIFY(peer->channel("GET") != nullptr);
    download = peer->channel("GET");
    QTRY_VERIFY(download->received.endsWith(HeaderEnd));
    if (!answerIndex)
        return;
    const int before = peer->connections.size();
    download->socket->write(Ok);
    // The upload channel opens after the first answer.
    QTRY_COMPARE(peer->connections.size(), before + 1);
    QTRY_COMPARE(splitRequests(download->received).size(), 2);
}

QByteArray TestHttpTunnel::waitForRequest(const std::shared_ptr<ScriptedPeer::Connection> &connection, int index)
{
    bool complete = false;
    QList<Request> requests;
    const bool arrived = QTest::qWaitFor(
        [&] {
            requests = splitRequests(connection->received, &complete);
            return requests.size() > index && (complete || requests.size() > index + 1);
        },
        10000);
    if (!arrived || requests.size() <= index)
        return QByteArray();
    return requests.at(index).header + requests.at(index).body;
}

// The first request asks for index.php, every later one for a new .pdf name; each carries the session.
void TestHttpTunnel::downloadRequests()
{
    connectTunnel();
    const QByteArray first = waitForRequest(download, 0);
    QCOMPARE(first,
        "GET /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + UserAgent + "\r\nCookie: session=" + Session
            + "\r\nConnection: keep-alive\r\n\r\n");
    const QByteArray second = waitForRequest(download, 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^GET /[0-9A-Za-z]{5,9}\\.pdf HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                               "User-Agent: TestAgent/1.0\r\nCookie: session=%1\r\n"
                                               "Connection: keep-alive\r\n\r\n$")
                                    .arg(QString::fromLatin1(Session)))
                 .match(QString::fromLatin1(second))
                 .hasMatch(),
        second.constData());
    QCOMPARE(server->httpTunnel().currentState(), HttpTunnel::Connected);
}

// Whatever way the answers are cut into reads, the client gets every body byte in order, those of
// the first answer included.
void TestHttpTunnel::downloadData_data()
{
    QTest::addColumn<QList<QByteArray>>("bodies");
    QTest::addColumn<int>("pieceSize");

    const QByteArray a = randomBytes(1000), b = randomBytes(70000), c = randomBytes(3);
    QTest::newRow("one answer whole") << QList<QByteArray> { a } << 0;
    QTest::newRow("answers in one write") << QList<QByteArray> { a, b, c } << 0;
    QTest::newRow("answers byte by byte") << QList<QByteArray> { c, a.left(40), c } << 1;
    QTest::newRow("answers in odd pieces") << QList<QByteArray> { a, QByteArray(), b, c } << 997;
}

void TestHttpTunnel::downloadData()
{
    QFETCH(QList<QByteArray>, bodies);
    QFETCH(int, pieceSize);

    connectTunnel(false);
    QByteArray wire, expected;
    for (const QByteArray &body : qAsConst(bodies)) {
        wire += okWithBody(body);
        expected += body;
    }
    if (pieceSize == 0) {
        download->socket->write(wire);
    } else {
        // Pieces pushed out one by one, so that the tunnel tends to read them apart.
        for (int at = 0; at < wire.size(); at += pieceSize) {
            download->socket->write(wire.mid(at, pieceSize));
            download->socket->flush();
            QCoreApplication::processEvents();
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(clientReceived.size(), expected.size(), 10000);
    QCOMPARE(clientReceived, expected);
    // One GET for every answer, plus the one now waiting.
    QTRY_COMPARE(splitRequests(download->received).size(), bodies.size() + 1);
}

// A complete 200 answer closes the download channel when it asks for it, or when it is HTTP/1.0
// without saying anything about the connection; the channel then reopens to the same address.
void TestHttpTunnel::keepAlive_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("reconnects");

    QTest::newRow("1.1") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab") << false;
    QTest::newRow("1.1 close") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nab")
                               << true;
    QTest::newRow("1.1 Close is not close")
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 2\r\n\r\nab") << false;
    QTest::newRow("proxy close") << QByteArray("HTTP/1.1 200 OK\r\nProxy-Connection: close\r\nContent-Length: 2"
                                               "\r\n\r\nab")
                                 << true;
    QTest::newRow("1.0") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab") << true;
    QTest::newRow("1.0 keep-alive") << QByteArray("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2"
                                                  "\r\n\r\nab")
                                    << false;
    QTest::newRow("1.0 proxy keep-alive")
        << QByteArray("HTTP/1.0 200 OK\r\nProxy-Connection: keep-alive\r\nContent-Length: 2\r\n\r\nab") << false;
}

void TestHttpTunnel::keepAlive()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, reconnects);

    connectTunnel();
    QVERIFY(!waitForRequest(download, 1).isEmpty());
    download->socket->write(answer);
    QTRY_COMPARE(clientReceived, QByteArray("ab"));
    if (reconnects) {
        QTRY_VERIFY(peer->channel("GET", 1) != nullptr);
        const auto again = peer->channel("GET", 1);
        const QByteArray request = waitForRequest(again, 0);
        QVERIFY2(QRegularExpression(QStringLiteral("^GET /[0-9A-Za-z]{5,9}\\.pdf HTTP/1.1\r\n"))
                     .match(QString::fromLatin1(request))
                     .hasMatch(),
            request.constData());
        QCOMPARE(again->socket->peerAddress().toIPv4Address(), Loopback.toIPv4Address());
        QTRY_COMPARE(download->socket->state(), QAbstractSocket::UnconnectedState);
        // The reopened channel carries on.
        again->socket->write(okWithBody("cd"));
        QTRY_COMPARE(clientReceived, QByteArray("abcd"));
    } else {
        QVERIFY(!waitForRequest(download, 2).isEmpty());
        QCOMPARE(peer->channel("GET", 1), nullptr);
    }
    QCOMPARE(server->httpTunnel().currentState(), HttpTunnel::Connected);
    QVERIFY(client->state() == QAbstractSocket::ConnectedState);
}

// Any status but 200 is logged and ends the tunnel, on either channel; 407 with another scheme as well.
void TestHttpTunnel::errorStatus_data()
{
    QTest::addColumn<bool>("onUpload");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("download 404") << false << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc")
                                  << "Mode http (download tunnel) : 404 Not Found";
    QTest::newRow("download 500 split reason") << false << QByteArray("HTTP/1.1 500 Internal Server Error\r\n\r\n")
                                               << "Mode http (download tunnel) : 500 Internal Server Error";
    QTest::newRow("download no number") << false << QByteArray("HTTP/1.1 OK\r\n\r\n")
                                        << "Mode http (download tunnel) : 0 ";
    QTest::newRow("download 407 digest")
        << false
        << QByteArray("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Digest realm=x\r\n\r\n")
        << "Mode http (download tunnel) : Unknown proxy authentication method : Digest realm=x";
    QTest::newRow("upload 403") << true << QByteArray("HTTP/1.1 403 Forbidden\r\n\r\n")
                                << "Mode http (upload tunnel) : 403 Forbidden";
}

void TestHttpTunnel::errorStatus()
{
    QFETCH(bool, onUpload);
    QFETCH(QByteArray, answer);
    QFETCH(QString, logLine);

    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    connectTunnel(onUpload);
    if (onUpload) {
        client->write("hello");
        QTRY_VERIFY(peer->channel("POST") != nullptr);
        QVERIFY(!waitForRequest(peer->channel("POST"), 0).isEmpty());
        peer->channel("POST")->socket->write(answer);
    } else {
        download->socket->write(answer);
    }
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->httpTunnel().currentState(), HttpTunnel::Stopped);
    QStringList lines;
    for (const QList<QVariant> &arguments : qAsConst(*logSpy))
        lines << arguments.value(0).toString();
    QVERIFY2(lines.contains(logLine), qPrintable(lines.join(QLatin1Char('|'))));
}

// One POST per burst; what comes meanwhile waits for the answer and goes out in the next POST.
void TestHttpTunnel::plainUploads()
{
    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    QSettings().setValue(SettingsKeys::TunnelHttpFileUpload, true); // no effect without streaming
    connectTunnel();

    const QByteArray first = randomBytes(300);
    client->write(first);
    QTRY_VERIFY(peer->channel("POST") != nullptr);
    const auto upload = peer->channel("POST");
    QCOMPARE(waitForRequest(upload, 0),
        "POST /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + UserAgent + "\r\nCookie: session=" + Session
            + "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
              "Content-Length: 300\r\nConnection: keep-alive\r\n\r\n"
            + first);

    const QByteArray second = randomBytes(50), third = randomBytes(20);
    client->write(second);
    QVERIFY(client->waitForBytesWritten(1000) || client->bytesToWrite() == 0);
    client->write(third);
    QVERIFY(client->waitForBytesWritten(1000) || client->bytesToWrite() == 0);
    // A window for bytes that must not come while the answer is awaited.
    QTest::qWait(100);
    QCOMPARE(splitRequests(upload->received).size(), 1);

    upload->socket->write(Ok);
    const QByteArray next = waitForRequest(upload, 1);
    QVERIFY2(next.contains("\r\nContent-Length: 70\r\n"), next.constData());
    QVERIFY(next.endsWith(HeaderEnd + second + third));
    QVERIFY(next.contains("Content-Type: application/x-www-form-urlencoded\r\n"));
}

// A streamed POST declares 5,000,000 to 9,999,999 bytes, goes out in pieces, and stops at its length
// until the answer; dressed as a file upload, wrapping and payload fill the declared length exactly.
void TestHttpTunnel::streamedUploads_data()
{
    QTest::addColumn<bool>("fileUpload");
    QTest::newRow("streamed") << false;
    QTest::newRow("file upload") << true;
}

void TestHttpTunnel::streamedUploads()
{
    QFETCH(bool, fileUpload);

    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, true);
    QSettings().setValue(SettingsKeys::TunnelHttpFileUpload, fileUpload);
    connectTunnel();

    const QByteArray start = randomBytes(1000);
    client->write(start);
    QTRY_VERIFY(peer->channel("POST") != nullptr);
    const auto upload = peer->channel("POST");
    QTRY_VERIFY(upload->received.contains(HeaderEnd));
    const int headerSize = upload->received.indexOf(HeaderEnd) + HeaderEnd.size();
    const QByteArray header = upload->received.left(headerSize);

    const QRegularExpression lengthLine(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
    const auto match = lengthLine.match(QString::fromLatin1(header));
    QVERIFY2(match.hasMatch(), header.constData());
    const int declared = match.captured(1).toInt();
    QVERIFY2(declared >= 5000000 && declared <= 9999999, header.constData());

    QByteArray boundary;
    int wrapping = 0;
    if (fileUpload) {
        const auto type = QRegularExpression(QStringLiteral("\r\nContent-Type: multipart/form-data; "
                                                            "boundary=----WebKitFormBoundary([0-9A-Za-z]{16})\r\n"))
                              .match(QString::fromLatin1(header));
        QVERIFY2(type.hasMatch(), header.constData());
        boundary = type.captured(1).toLatin1();
        const auto cookie = QRegularExpression(QStringLiteral("\r\nCookie: session=([0-9a-f]+)((; \\w+=\\d+)*)\r\n"))
                                .match(QString::fromLatin1(header));
        QVERIFY2(cookie.hasMatch(), header.constData());
        QCOMPARE(cookie.captured(1).toLatin1(), Session);
        QStringList extra = cookie.captured(2).split(QStringLiteral("; "), Qt::SkipEmptyParts);
        extra.sort();
        QCOMPARE(extra.size(), 2);
        QVERIFY(extra.at(0).startsWith(QLatin1String("afterData=")));
        QVERIFY(extra.at(1).startsWith(QLatin1String("beforeData=")));
        const int after = extra.at(0).section(QLatin1Char('='), 1).toInt();
        const int before = extra.at(1).section(QLatin1Char('='), 1).toInt();
        QCOMPARE(after, 46);
        QVERIFY(before >= 142 && before <= 146);
        wrapping = before + after;

        QTRY_VERIFY(upload->received.size() >= headerSize + before);
        const QByteArray preamble = upload->received.mid(headerSize, before);
        QVERIFY2(QRegularExpression(QStringLiteral("^------WebKitFormBoundary%1\r\nContent-Disposition: form-data; "
                                                   "name=\"file\"; filename=\"[0-9A-Za-z]{5,9}\\.pdf\"\r\n"
                                                   "Content-Type: application/pdf\r\n\r\n$")
                                        .arg(QString::fromLatin1(boundary)))
                     .match(QString::fromLatin1(preamble))
                     .hasMatch(),
            preamble.constData());
    } else {
        QVERIFY(header.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
        QVERIFY(header.contains("\r\nCookie: session=" + Session + "\r\n"));
    }

    // Fill the request and go 500 bytes past it.
    const int payload = declared - wrapping;
    const QByteArray rest = randomBytes(payload - start.size() + 500);
    for (int at = 0; at < rest.size(); at += 1 << 20)
        client->write(rest.mid(at, 1 << 20));
    QTRY_VERIFY_WITH_TIMEOUT(upload->received.size() >= headerSize + declared, 30000);
    QVERIFY(client->waitForBytesWritten(1000) || client->bytesToWrite() == 0);
    QTest::qWait(100); // a window for bytes that must not come
    QCOMPARE(upload->received.size(), headerSize + declared);

    const QByteArray body = upload->received.mid(headerSize);
    const QByteArray sent = start + rest.left(payload - start.size());
    if (fileUpload) {
        QVERIFY(body.endsWith("\r\n------WebKitFormBoundary" + boundary + "--\r\n"));
        QCOMPARE(body.mid(wrapping - 46, payload), sent);
    } else {
        QCOMPARE(body, sent);
    }

    // The answer lets the rest out, in a new request with a new header.
    upload->socket->write(Ok);
    QTRY_VERIFY(upload->received.endsWith(rest.right(500)));
    const QByteArray next = upload->received.mid(headerSize + declared);
    QVERIFY2(next.startsWith("POST /index.php HTTP/1.1\r\n"), next.left(300).constData());
    const QByteArray wrapped = fileUpload ? QByteArray(".pdf\"\r\nContent-Type: application/pdf\r\n\r\n") : HeaderEnd;
    QVERIFY(next.endsWith(wrapped + rest.right(500)));
}

// A second local connection after the first one ended begins clean: index.php first, and a POST
// at once even though the first connection left one unanswered.
void TestHttpTunnel::secondConnectionStartsClean()
{
    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    connectTunnel();
    client->write("one");
    QTRY_VERIFY(peer->channel("POST") != nullptr);
    client->disconnectFromHost();
    QTRY_COMPARE(server->httpTunnel().currentState(), HttpTunnel::Stopped);

    peer->connections.clear();
    clientReceived.clear();
    connectTunnel();
    QVERIFY(download->received.startsWith("GET /index.php HTTP/1.1\r\n"));
    client->write("two");
    QTRY_VERIFY(peer->channel("POST") != nullptr);
    const QByteArray request = waitForRequest(peer->channel("POST"), 0);
    QVERIFY2(request.contains("Content-Length: 3\r\n") && request.endsWith("\r\n\r\ntwo"), request.constData());
}

// OpenVPN opens one connection: another one while it is carried is refused, and the first goes on.
void TestHttpTunnel::secondConnectionWhileCarrying()
{
    connectTunnel();
    QTcpSocket second;
    second.connectToHost(Loopback, server->serverPort());
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY(!logSpy->isEmpty());
    QCOMPARE(logSpy->last().value(0).toString(),
        QStringLiteral("Mode http (client) : a second local connection was refused"));
    download->socket->write(okWithBody("still here"));
    QTRY_COMPARE(clientReceived, QByteArray("still here"));
    QCOMPARE(server->httpTunnel().currentState(), HttpTunnel::Connected);
}

// Through an HTTP proxy: absolute request lines; a Basic challenge on the running tunnel brings the
// credentials on the reopened channel.
void TestHttpTunnel::proxyCredentials()
{
    startServer();
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, Loopback.toString(), peer->serverPort(), QStringLiteral("user"),
        QStringLiteral("pass"));
    server->setProxy(proxy);
    server->setHost(QStringLiteral("vpn.example"));
    connectTunnel();
    QVERIFY(download->received.startsWith("GET http://vpn.example/index.php HTTP/1.1\r\nHost: vpn.example\r\n"));
    QVERIFY(!waitForRequest(download, 1).isEmpty());
    download->socket->write("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                            "Content-Length: 0\r\n\r\n");
    QTRY_VERIFY(peer->channel("GET", 1) != nullptr);
    const QByteArray request = waitForRequest(peer->channel("GET", 1), 0);
    QVERIFY2(request.contains("\r\nProxy-Authorization: Basic " + QByteArray("user:pass").toBase64() + "\r\n"),
        request.constData());
    QVERIFY(request.startsWith("GET http://vpn.example/"));
    QCOMPARE(server->httpTunnel().currentState(), HttpTunnel::Connected);
}

// A side that reads slowly holds the other side back instead of filling the tunnel's memory.
void TestHttpTunnel::boundedMemory_data()
{
    QTest::addColumn<bool>("downstream");
    QTest::addColumn<bool>("serverCloses");
    QTest::newRow("to a slow client") << true << false;
    QTest::newRow("to a slow client, server closes after the answer") << true << true;
    QTest::newRow("to a slow server") << false << false;
}

void TestHttpTunnel::boundedMemory()
{
    QFETCH(bool, downstream);
    QFETCH(bool, serverCloses);

    // Far more than the system's socket buffers and the tunnel's bound together can hold.
    constexpr int Total = 64 << 20;
    constexpr qint64 Bound = 32 << 20;
    const QByteArray chunk = randomBytes(1 << 20);

    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    connectTunnel();
    if (downstream) {
        client->setReadBufferSize(64 * 1024);
        disconnect(client.get(), &QTcpSocket::readyRead, this, nullptr);
        download->socket->write("HTTP/1.1 200 OK\r\n" + QByteArray(serverCloses ? "Connection: close\r\n" : "")
            + "Content-Length: " + QByteArray::number(Total) + "\r\n\r\n");
        for (int i = 0; i < Total / chunk.size(); ++i)
            download->socket->write(chunk);
        // Gone while the tunnel still holds the end of the answer: that end must still arrive.
        if (serverCloses)
            download->socket->disconnectFromHost();
        // Wait until the writer is held back, then measure how much went.
        qint64 lastPending = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const qint64 pending = download->socket->bytesToWrite();
                const bool still = pending == lastPending;
                lastPending = pending;
                return still && pending > 0;
            }(),
            20000);
        const qint64 taken = Total - download->socket->bytesToWrite();
        QVERIFY2(taken < Bound, qPrintable(QString::number(taken)));

        // Then everything arrives, in order.
        client->setReadBufferSize(0);
        QByteArray received = client->readAll();
        QObject reader;
        connect(client.get(), &QTcpSocket::readyRead, &reader, [&] { received += client->readAll(); });
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), Total, 60000);
        for (int i = 0; i < Total / chunk.size(); ++i)
            QVERIFY(received.mid(i * chunk.size(), chunk.size()) == chunk);
    } else {
        // The server answers each POST, but reads nothing for a while.
        QByteArray uploaded;
        std::shared_ptr<ScriptedPeer::Connection> upload;
        for (int i = 0; i < Total / chunk.size(); ++i)
            client->write(chunk);
        QTRY_VERIFY(peer->channel("POST") != nullptr);
        upload = peer->channel("POST");
        peer->setReading(upload, false);
        qint64 lastPending = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const qint64 pending = client->bytesToWrite();
                const bool still = pending == lastPending;
                lastPending = pending;
                return still && pending > 0;
            }(),
            20000);
        const qint64 taken = Total - client->bytesToWrite();
        QVERIFY2(taken < Bound, qPrintable(QString::number(taken)));

        // Answer every POST as it completes, and collect the bodies.
        QObject answerer;
        const auto answer = [&] {
            bool complete = false;
            const QList<Request> requests = splitRequests(upload->received, &complete);
            if (requests.isEmpty() || !complete)
                return;
            for (const Request &request : requests)
                uploaded += request.body;
            upload->received.clear();
            upload->socket->write(Ok);
        };
        connect(upload->socket, &QTcpSocket::readyRead, &answerer, answer);
        upload->socket->setReadBufferSize(0);
        peer->setReading(upload, true);
        answer();
        QTRY_VERIFY_WITH_TIMEOUT(uploaded.size() >= Total, 60000);
        QCOMPARE(uploaded.size(), Total);
        for (int i = 0; i < Total / chunk.size(); ++i)
            QVERIFY(uploaded.mid(i * chunk.size(), chunk.size()) == chunk);
    }
}

NIMBORA_TEST_MAIN(TestHttpTunnel, QCoreApplication)

#include "tst_httptunnel.moc"
