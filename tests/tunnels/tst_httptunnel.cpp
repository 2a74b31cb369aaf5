#include "tunnels/httpserver.h"

#include "base/settingskeys.h"
#include "tests/support/streampattern.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QByteArray Session("0123456789abcdef0123456789abcdef");
// A stored line break must not add a header line to the tunnel's requests.
const QByteArray StoredUserAgent("TestAgent/1.0\r\nX-Injected: 1");
const QByteArray UserAgent("TestAgent/1.0X-Injected: 1");
const QByteArray HeaderEnd("\r\n\r\n");
const QByteArray Ok("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");

QByteArray okWithBody(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

bool matches(const QString &pattern, const QByteArray &bytes)
{
    return QRegularExpression(pattern).match(QString::fromLatin1(bytes)).hasMatch();
}

// The request line of every GET after the first.
const QString PdfRequestLine = QStringLiteral("^GET /[0-9A-Za-z]{5,9}\\.pdf HTTP/1.1\r\n");

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
    bool whole = true;
    for (int end = 0; (end = bytes.indexOf(HeaderEnd)) >= 0;) {
        const QByteArray header = bytes.left(end + HeaderEnd.size());
        const auto length
            = QRegularExpression(QStringLiteral("\r\nContent-Length: (\\d+)\r\n")).match(QString::fromLatin1(header));
        const int size = length.hasMatch() ? length.captured(1).toInt() : 0;
        requests.append({ header, bytes.mid(header.size(), size) });
        whole = requests.last().body.size() == size;
        bytes.remove(0, header.size() + size);
    }
    if (complete)
        *complete = whole && bytes.isEmpty();
    return requests;
}

} // namespace

class TestHttpTunnel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void downloadData_data();
    void downloadData();
    void keepAlive_data();
    void keepAlive();
    void errorStatus_data();
    void errorStatus();
    void plainUploads();
    void streamedUploads_data();
    void streamedUploads();
    void secondConnection();
    void proxyCredentials();
    void boundedMemory_data();
    void boundedMemory();

private:
    // Server and client up, through the first answer; afterwards download is the download channel.
    void connectTunnel(bool answerIndex = true);
    void startServer();
    QByteArray waitForRequest(const std::shared_ptr<ScriptedPeer::Connection> &connection, int index);
    void roundTrip();
    QStringList logLines() const;

    std::unique_ptr<ScriptedPeer> m_peer;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<QSignalSpy> m_logSpy;
    std::unique_ptr<QTcpSocket> m_client;
    QByteArray m_clientReceived;
    std::shared_ptr<ScriptedPeer::Connection> m_download;
};

void TestHttpTunnel::init()
{
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::UserAgent, QString::fromLatin1(StoredUserAgent));
    m_peer.reset(new ScriptedPeer);
    QVERIFY(m_peer->isListening());
    m_clientReceived.clear();
    m_download.reset();
}

void TestHttpTunnel::cleanup()
{
    m_client.reset();
    if (m_server)
        m_server->close();
    m_logSpy.reset();
    m_server.reset();
    m_peer.reset();
}

void TestHttpTunnel::startServer()
{
    m_server.reset(new HttpServer);
    m_logSpy.reset(new QSignalSpy(m_server.get(), &HttpServer::log));
    m_server->setHost(Loopback.toString());
    m_server->setPort(m_peer->serverPort());
    m_server->setSession(QString::fromLatin1(Session));
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void TestHttpTunnel::connectTunnel(bool answerIndex)
{
    if (!m_server)
        startServer();
    m_client.reset(new QTcpSocket);
    connect(m_client.get(), &QTcpSocket::readyRead, this, [this] { m_clientReceived += m_client->readAll(); });
    m_client->connectToHost(Loopback, m_server->serverPort());
    QVERIFY(m_client->waitForConnected(5000));
    QTRY_VERIFY(m_peer->channel("GET") != nullptr);
    m_download = m_peer->channel("GET");
    QTRY_VERIFY(m_download->received.endsWith(HeaderEnd));
    if (!answerIndex)
        return;
    const int before = m_peer->connections.size();
    m_download->socket->write(Ok);
    // The upload channel opens after the first answer.
    QTRY_COMPARE(m_peer->connections.size(), before + 1);
    QTRY_COMPARE(splitRequests(m_download->received).size(), 2);
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

// One exchange on the download channel all the way round: whatever the tunnel was to send before it, on
// either channel, has arrived by then, since the tunnel and the peer share this thread's event loop.
void TestHttpTunnel::roundTrip()
{
    const int gets = splitRequests(m_download->received).size();
    m_download->socket->write(Ok);
    QTRY_COMPARE(splitRequests(m_download->received).size(), gets + 1);
}

QStringList TestHttpTunnel::logLines() const
{
    QStringList lines;
    for (const QList<QVariant> &arguments : qAsConst(*m_logSpy))
        lines << arguments.value(0).toString();
    return lines;
}

// Several answers in one read, or answers cut into reads of a byte: the client gets every body byte in order,
// those of the first answer included. The first request asks for index.php, the one after every answer for a new
// .pdf name; each carries the session and the user agent.
void TestHttpTunnel::downloadData_data()
{
    QTest::addColumn<QList<QByteArray>>("bodies");
    QTest::addColumn<int>("pieceSize");

    const QByteArray a = streamPattern(0, 1000), b = streamPattern(7, 70000), c = streamPattern(3, 3);
    QTest::newRow("answers in one write, one of them empty") << QList<QByteArray> { a, QByteArray(), b, c } << 0;
    QTest::newRow("answers byte by byte") << QList<QByteArray> { c, a.left(40), c } << 1;
}

void TestHttpTunnel::downloadData()
{
    QFETCH(QList<QByteArray>, bodies);
    QFETCH(int, pieceSize);

    connectTunnel(false);
    QCOMPARE(waitForRequest(m_download, 0),
        "GET /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + UserAgent + "\r\nCookie: session=" + Session
            + "\r\nConnection: keep-alive\r\n\r\n");
    QByteArray wire, expected;
    for (const QByteArray &body : qAsConst(bodies)) {
        wire += okWithBody(body);
        expected += body;
    }
    if (pieceSize == 0) {
        m_download->socket->write(wire);
    } else {
        // Pieces pushed out one by one, so that the tunnel tends to read them apart.
        for (int at = 0; at < wire.size(); at += pieceSize) {
            m_download->socket->write(wire.mid(at, pieceSize));
            m_download->socket->flush();
            QCoreApplication::processEvents();
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_clientReceived.size(), expected.size(), 10000);
    QCOMPARE(m_clientReceived, expected);
    // One GET for every answer, plus the one now waiting.
    QTRY_COMPARE(splitRequests(m_download->received).size(), bodies.size() + 1);
    for (const Request &request : splitRequests(m_download->received).mid(1)) {
        QVERIFY2(matches(PdfRequestLine + "Host: 127.0.0.1\r\nUser-Agent: " + UserAgent
                         + "\r\nCookie: session=" + Session + "\r\nConnection: keep-alive\r\n\r\n$",
                     request.header),
            request.header.constData());
    }
    QCOMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Connected);
}

// A complete 200 answer closes the download channel when it asks for it, or when it is HTTP/1.0 without saying
// anything about the connection; the channel then reopens to the same address.
void TestHttpTunnel::keepAlive_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("reconnects");
    QTest::newRow("1.1") << QByteArray("HTTP/1.1 200 OK\r\n") << false;
    QTest::newRow("1.1 close") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n") << true;
    QTest::newRow("1.1 Close is not close") << QByteArray("HTTP/1.1 200 OK\r\nConnection: Close\r\n") << false;
    QTest::newRow("proxy close") << QByteArray("HTTP/1.1 200 OK\r\nProxy-Connection: close\r\n") << true;
    QTest::newRow("1.0") << QByteArray("HTTP/1.0 200 OK\r\n") << true;
    QTest::newRow("1.0 keep-alive") << QByteArray("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n") << false;
    QTest::newRow("1.0 proxy keep-alive") << QByteArray("HTTP/1.0 200 OK\r\nProxy-Connection: keep-alive\r\n") << false;
}

void TestHttpTunnel::keepAlive()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, reconnects);

    connectTunnel();
    QVERIFY(!waitForRequest(m_download, 1).isEmpty());
    m_download->socket->write(header + "Content-Length: 2\r\n\r\nab");
    QTRY_COMPARE(m_clientReceived, QByteArray("ab"));
    if (reconnects) {
        QTRY_VERIFY(m_peer->channel("GET", 1) != nullptr);
        const auto again = m_peer->channel("GET", 1);
        const QByteArray request = waitForRequest(again, 0);
        QVERIFY2(matches(PdfRequestLine, request), request.constData());
        QCOMPARE(again->socket->peerAddress().toIPv4Address(), Loopback.toIPv4Address());
        QTRY_COMPARE(m_download->socket->state(), QAbstractSocket::UnconnectedState);
        // The reopened channel carries on.
        again->socket->write(okWithBody("cd"));
        QTRY_COMPARE(m_clientReceived, QByteArray("abcd"));
    } else {
        QVERIFY(!waitForRequest(m_download, 2).isEmpty());
        QCOMPARE(m_peer->channel("GET", 1), nullptr);
    }
    QCOMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Connected);
    QVERIFY(m_client->state() == QAbstractSocket::ConnectedState);
}

// Any status but 200 is logged and ends the tunnel, on either channel; 407 with another scheme than Basic as well.
void TestHttpTunnel::errorStatus_data()
{
    QTest::addColumn<bool>("onUpload");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("download 404") << false << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc")
                                  << "Mode http (download tunnel) : 404 Not Found";
    QTest::newRow("download 500, status line alone")
        << false << QByteArray("HTTP/1.1 500 Internal Server Error\r\n\r\n")
        << "Mode http (download tunnel) : 500 Internal Server Error";
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
        m_client->write("hello");
        QTRY_VERIFY(m_peer->channel("POST") != nullptr);
        QVERIFY(!waitForRequest(m_peer->channel("POST"), 0).isEmpty());
        m_peer->channel("POST")->socket->write(answer);
    } else {
        m_download->socket->write(answer);
    }
    QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Stopped);
    QVERIFY2(logLines().contains(logLine), qPrintable(logLines().join(QLatin1Char('|'))));
}

// One POST per burst; what comes meanwhile waits for the answer and goes out in the next POST.
void TestHttpTunnel::plainUploads()
{
    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    QSettings().setValue(SettingsKeys::TunnelHttpFileUpload, true); // no effect without streaming
    connectTunnel();

    const QByteArray first = streamPattern(0, 300);
    m_client->write(first);
    QTRY_VERIFY(m_peer->channel("POST") != nullptr);
    const auto upload = m_peer->channel("POST");
    QCOMPARE(waitForRequest(upload, 0),
        "POST /index.php HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + UserAgent + "\r\nCookie: session=" + Session
            + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 300\r\nConnection: keep-alive\r\n"
              "\r\n"
            + first);

    const QByteArray second = streamPattern(1, 50), third = streamPattern(2, 20);
    for (const QByteArray &burst : { second, third }) {
        m_client->write(burst);
        m_client->flush();
        roundTrip();
        QCOMPARE(splitRequests(upload->received).size(), 1);
    }
    upload->socket->write(Ok);
    const QByteArray next = waitForRequest(upload, 1);
    QVERIFY2(next.contains("\r\nContent-Length: 70\r\n"), next.constData());
    QVERIFY(next.endsWith(HeaderEnd + second + third));
}

// A streamed POST declares 5,000,000 to 9,999,999 bytes, goes out in pieces, and stops at its length until the
// answer; dressed as a file upload, wrapping and payload fill the declared length exactly.
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

    const QByteArray start = streamPattern(0, 1000);
    m_client->write(start);
    QTRY_VERIFY(m_peer->channel("POST") != nullptr);
    const auto upload = m_peer->channel("POST");
    QTRY_VERIFY(upload->received.contains(HeaderEnd));
    const int headerSize = upload->received.indexOf(HeaderEnd) + HeaderEnd.size();
    const QByteArray header = upload->received.left(headerSize);
    const auto field
        = [&header](const QString &pattern) { return QRegularExpression(pattern).match(QString::fromLatin1(header)); };

    const auto length = field(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
    const int declared = length.captured(1).toInt();
    QVERIFY2(length.hasMatch() && declared >= 5000000 && declared <= 9999999, header.constData());

    QByteArray boundary;
    int before = 0, after = 0;
    if (fileUpload) {
        const auto type = field(QStringLiteral("\r\nContent-Type: multipart/form-data; "
                                               "boundary=----WebKitFormBoundary([0-9A-Za-z]{16})\r\n"));
        // The cookies after the session, in either order, give the wrapping's sizes.
        const auto cookie = field(QStringLiteral("\r\nCookie: session=%1; (\\w+)=(\\d+); (\\w+)=(\\d+)\r\n")
                                      .arg(QString::fromLatin1(Session)));
        QVERIFY2(type.hasMatch() && cookie.hasMatch(), header.constData());
        boundary = type.captured(1).toLatin1();
        for (int name : { 1, 3 })
            (cookie.captured(name) == QLatin1String("beforeData") ? before : after) = cookie.captured(name + 1).toInt();
        QCOMPARE(after, 46);
        QVERIFY(before >= 142 && before <= 146);

        QTRY_VERIFY(upload->received.size() >= headerSize + before);
        const QByteArray preamble = upload->received.mid(headerSize, before);
        QVERIFY2(matches(QStringLiteral("^------WebKitFormBoundary%1\r\nContent-Disposition: form-data; name=\"file\"; "
                                        "filename=\"[0-9A-Za-z]{5,9}\\.pdf\"\r\nContent-Type: application/pdf\r\n\r\n$")
                             .arg(QString::fromLatin1(boundary)),
                     preamble),
            preamble.constData());
    } else {
        QVERIFY(header.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
        QVERIFY(header.contains("\r\nCookie: session=" + Session + "\r\n"));
    }

    // Fill the request and go 500 bytes past it.
    const int payload = declared - before - after;
    const QByteArray rest = streamPattern(start.size(), payload - start.size() + 500);
    m_client->write(rest);
    QTRY_VERIFY_WITH_TIMEOUT(upload->received.size() >= headerSize + declared, 30000);
    QTRY_COMPARE(m_client->bytesToWrite(), qint64(0));
    roundTrip();
    QCOMPARE(upload->received.size(), headerSize + declared);

    const QByteArray body = upload->received.mid(headerSize);
    QCOMPARE(body.mid(before, payload), streamPattern(0, payload));
    if (fileUpload)
        QVERIFY(body.endsWith("\r\n------WebKitFormBoundary" + boundary + "--\r\n"));

    // The answer lets the rest out, in a new request with a new header.
    upload->socket->write(Ok);
    QTRY_VERIFY(upload->received.endsWith(rest.right(500)));
    const QByteArray next = upload->received.mid(headerSize + declared);
    QVERIFY2(next.startsWith("POST /index.php HTTP/1.1\r\n"), next.left(300).constData());
    const QByteArray wrapped = fileUpload ? QByteArray(".pdf\"\r\nContent-Type: application/pdf\r\n\r\n") : HeaderEnd;
    QVERIFY(next.endsWith(wrapped + rest.right(500)));
}

// OpenVPN opens one connection: another one while it is carried is refused, and the first goes on. One after the
// first ended begins clean: index.php first, and a POST at once though the first left one unanswered.
void TestHttpTunnel::secondConnection()
{
    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    connectTunnel();
    QTcpSocket second;
    second.connectToHost(Loopback, m_server->serverPort());
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(logLines(), QStringList { "Mode http (client) : a second local connection was refused" });
    m_download->socket->write(okWithBody("still here"));
    QTRY_COMPARE(m_clientReceived, QByteArray("still here"));
    m_client->write("one");
    QTRY_VERIFY(m_peer->channel("POST") != nullptr);
    m_client->disconnectFromHost();
    QTRY_COMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Stopped);

    m_peer->connections.clear();
    connectTunnel();
    QVERIFY(m_download->received.startsWith("GET /index.php HTTP/1.1\r\n"));
    m_client->write("two");
    QTRY_VERIFY(m_peer->channel("POST") != nullptr);
    const QByteArray request = waitForRequest(m_peer->channel("POST"), 0);
    QVERIFY2(request.contains("Content-Length: 3\r\n") && request.endsWith("\r\n\r\ntwo"), request.constData());
}

// Through an HTTP proxy: absolute request lines; a Basic challenge on the running tunnel brings the credentials on
// the reopened channel, and a second challenge, the credentials being wrong, ends the tunnel instead of a loop.
void TestHttpTunnel::proxyCredentials()
{
    startServer();
    m_server->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, Loopback.toString(), m_peer->serverPort(),
        QStringLiteral("user"), QStringLiteral("pass")));
    m_server->setHost(QStringLiteral("vpn.example"));
    connectTunnel();
    QVERIFY(m_download->received.startsWith("GET http://vpn.example/index.php HTTP/1.1\r\nHost: vpn.example\r\n"));
    QVERIFY(!waitForRequest(m_download, 1).isEmpty());
    const QByteArray challenge("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                               "Content-Length: 0\r\n\r\n");
    m_download->socket->write(challenge);
    QTRY_VERIFY(m_peer->channel("GET", 1) != nullptr);
    const auto again = m_peer->channel("GET", 1);
    const QByteArray request = waitForRequest(again, 0);
    QVERIFY2(request.startsWith("GET http://vpn.example/")
            && request.contains("\r\nProxy-Authorization: Basic " + QByteArray("user:pass").toBase64() + "\r\n"),
        request.constData());
    QCOMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Connected);

    again->socket->write(challenge);
    QTRY_COMPARE(m_server->httpTunnel().currentState(), HttpTunnel::Stopped);
    QCOMPARE(
        logLines().value(0), "Mode http (download tunnel) : Unknown proxy authentication method : Basic realm=\"p\"");
    QCOMPARE(m_peer->channel("GET", 2), nullptr);
}

// A side that reads slowly holds the other side back instead of filling the tunnel's memory; once it reads,
// every byte arrives in order.
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
    constexpr qint64 StreamSize = 48 << 20;
    // Loopback socket buffers grow to a few MiB each; four of them lie on the way.
    constexpr qint64 InFlightBound = 32 << 20;

    QSettings().setValue(SettingsKeys::TunnelHttpStreaming, false);
    connectTunnel();
    if (downstream) {
        m_client->setReadBufferSize(64 * 1024);
        disconnect(m_client.get(), &QTcpSocket::readyRead, this, nullptr);
        m_download->socket->write("HTTP/1.1 200 OK\r\n" + QByteArray(serverCloses ? "Connection: close\r\n" : "")
            + "Content-Length: " + QByteArray::number(StreamSize) + "\r\n\r\n");
    }
    StreamWriter writer(downstream ? m_download->socket : m_client.get(), StreamSize);
    // Gone while the tunnel still holds the end of the answer: that end must still arrive.
    if (serverCloses) {
        connect(&writer, &StreamWriter::progress, m_download->socket, [&writer, this] {
            if (writer.written() == StreamSize)
                m_download->socket->disconnectFromHost();
        });
    }
    writer.start();
    // The server answers each POST, but reads nothing for a while.
    std::shared_ptr<ScriptedPeer::Connection> upload;
    if (!downstream) {
        QTRY_VERIFY(m_peer->channel("POST") != nullptr);
        upload = m_peer->channel("POST");
        upload->reading = false;
    }
    writer.waitUntilStalled();
    QVERIFY2(writer.written() < InFlightBound, qPrintable(QString::number(writer.written())));

    StreamChecker checker;
    QObject answerer;
    if (downstream) {
        checker.attach(m_client.get());
    } else {
        // Answer every POST as it completes, and check the bodies.
        const auto answer = [&] {
            bool complete = false;
            const QList<Request> requests = splitRequests(upload->received, &complete);
            if (requests.isEmpty() || !complete)
                return;
            for (const Request &request : requests)
                checker.take(request.body);
            upload->received.clear();
            upload->socket->write(Ok);
        };
        connect(upload->socket, &QTcpSocket::readyRead, &answerer, answer);
        upload->socket->setReadBufferSize(0);
        upload->reading = true;
        upload->received += upload->socket->readAll();
        answer();
    }
    QTRY_VERIFY_WITH_TIMEOUT(checker.received() == StreamSize || checker.failed(), 120000);
    QVERIFY(!checker.failed());
}

NIMBORA_TEST_MAIN(TestHttpTunnel, QCoreApplication)

#include "tst_httptunnel.moc"
