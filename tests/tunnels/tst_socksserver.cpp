#include "tunnels/socksserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
// Another loopback address, so that the outgoing sockets' binding shows.
const QHostAddress SecondLoopback(QStringLiteral("127.0.0.2"));
// Fails at once, inside Qt, without any query leaving the machine: a name with an empty label.
const QByteArray UnresolvableName("nowhere..invalid");

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(Loopback, 0);
    return server.serverPort();
}

QByteArray portBytes(quint16 port)
{
    QByteArray bytes;
    bytes.append(char(port >> 8));
    bytes.append(char(port & 0xff));
    return bytes;
}

quint16 readPort(const QByteArray &bytes, int offset)
{
    return quint16((quint8(bytes.at(offset)) << 8) | quint8(bytes.at(offset + 1)));
}

QByteArray socks5Connect(const QByteArray &host, quint16 port)
{
    QHostAddress address;
    if (address.setAddress(QString::fromLatin1(host)))
        return QByteArray::fromHex("050100") + QByteArray::fromHex("05010001")
            + QByteArray::fromHex(QByteArray::number(address.toIPv4Address(), 16).rightJustified(8, '0'))
            + portBytes(port);
    return QByteArray::fromHex("050100") + QByteArray::fromHex("05010003") + char(host.size()) + host + portBytes(port);
}

QByteArray socks4Connect(quint16 port, const QByteArray &host = QByteArray())
{
    if (host.isEmpty())
        return QByteArray::fromHex("0401") + portBytes(port) + QByteArray::fromHex("7f000001") + QByteArray("u\0", 2);
    return QByteArray::fromHex("0401") + portBytes(port) + QByteArray::fromHex("00000001") + QByteArray("u\0", 2) + host
        + '\0';
}

// Bytes whose value depends on their place in a stream: a lost or misplaced byte shows.
QByteArray pattern(qint64 offset, int size)
{
    QByteArray cycle(251, Qt::Uninitialized);
    for (int i = 0; i < cycle.size(); ++i)
        cycle[i] = char(i);
    return cycle.repeated(size / cycle.size() + 2).mid(int(offset % cycle.size()), size);
}

// Peer for the relays: answers one HTTP GET, echoes, sends a long stream, or holds what it gets unread.
class TargetServer : public QTcpServer
{
public:
    enum Mode { Http, Echo, Source, Sink };

    explicit TargetServer(Mode mode, const QByteArray &body = QByteArray()) : mode(mode), body(body)
    {
        connect(this, &QTcpServer::newConnection, this, &TargetServer::accept);
        listen(Loopback, 0);
    }

    QList<QTcpSocket *> sockets;
    QList<QHostAddress> peerAddresses;
    QList<quint16> peerPorts;

private:
    void accept()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            sockets.append(socket);
            peerAddresses.append(socket->peerAddress());
            peerPorts.append(socket->peerPort());
            if (mode == Http) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
                    socket->setProperty("request", request);
                    if (!request.contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
                        + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            } else if (mode == Echo) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
            } else if (mode == Source) {
                socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
                socket->write(body);
            } else {
                socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
                socket->setReadBufferSize(64 * 1024);
            }
        }
    }

    Mode mode;
    QByteArray body;
};

// Checks a long stream as it arrives: length and order.
struct StreamChecker
{
    qint64 received = 0;
    qint64 mismatches = 0;

    void take(const QByteArray &bytes)
    {
        const QByteArray expected = pattern(received, bytes.size());
        if (bytes != expected)
            ++mismatches;
        received += bytes.size();
    }
};

} // namespace

class TestSocksServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void curlClients_data();
    void curlClients();
    void connectReply_data();
    void connectReply();
    void replies_data();
    void replies();
    void splitMessages_data();
    void splitMessages();
    void oddBytes();
    void pysocksUdp();
    void udpDatagrams_data();
    void udpDatagrams();
    void boundedRelay_data();
    void boundedRelay();
    void manyClients();

private:
    std::unique_ptr<QTcpSocket> openClient();
    void expectEcho(QTcpSocket *client);

    std::unique_ptr<SocksServer> server;
    std::unique_ptr<QSignalSpy> logSpy;
    int baselineThreads = 0;
};

void TestSocksServer::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
}

void TestSocksServer::init()
{
    baselineThreads = threadCount();
    server.reset(new SocksServer);
    server->setAddress(Loopback);
    logSpy.reset(new QSignalSpy(server.get(), &SocksServer::log));
    QVERIFY(server->listen(Loopback, 0));
}

// Closing the server ends every tunnel, whatever it was doing.
void TestSocksServer::cleanup()
{
    server->close();
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baselineThreads, 40000);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    logSpy.reset();
    server.reset();
}

std::unique_ptr<QTcpSocket> TestSocksServer::openClient()
{
    std::unique_ptr<QTcpSocket> client(new QTcpSocket);
    client->connectToHost(Loopback, server->serverPort());
    // The event loop must run meanwhile: the server accepts on this thread.
    if (!QTest::qWaitFor([&client] { return client->state() == QAbstractSocket::ConnectedState; }, 5000))
        qWarning("The SOCKS server did not take the client");
    return client;
}

void TestSocksServer::expectEcho(QTcpSocket *client)
{
    client->write("ping");
    QTRY_COMPARE(client->bytesAvailable(), qint64(4));
    QCOMPARE(client->readAll(), QByteArray("ping"));
}

void TestSocksServer::curlClients_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("socks 4") << "--socks4";
    QTest::newRow("socks 4a") << "--socks4a";
    QTest::newRow("socks 5") << "--socks5";
    QTest::newRow("socks 5 with host name") << "--socks5-hostname";
}

void TestSocksServer::curlClients()
{
    QFETCH(QString, option);
    const QString curlPath = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curlPath.isEmpty())
        QSKIP("curl is not installed (packages/socks.txt lists it)");

    server->setAddress(SecondLoopback);
    const QByteArray body = pattern(0, 1024 * 1024);
    TargetServer web(TargetServer::Http, body);
    QProcess curl;
    QSignalSpy finished(&curl, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    curl.start(curlPath,
        { "-q", "-sS", "--max-time", "60", option, QStringLiteral("127.0.0.1:%1").arg(server->serverPort()),
            QStringLiteral("http://localhost:%1/file").arg(web.serverPort()) });
    QVERIFY(finished.wait(90000));
    QVERIFY2(curl.exitCode() == 0, curl.readAllStandardError().constData());
    QVERIFY(curl.readAllStandardOutput() == body);
    QCOMPARE(web.peerAddresses, QList<QHostAddress>() << SecondLoopback);
    QCOMPARE(logSpy->count(), 0);
}

void TestSocksServer::connectReply_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("socks 5, address") << 5 << QByteArray("127.0.0.1");
    QTest::newRow("socks 5, name") << 5 << QByteArray("localhost");
    QTest::newRow("socks 4") << 4 << QByteArray();
    QTest::newRow("socks 4a") << 4 << QByteArray("localhost");
}

// The success reply names the outgoing socket's own end, which is on the bind address.
void TestSocksServer::connectReply()
{
    QFETCH(int, version);
    QFETCH(QByteArray, host);

    server->setAddress(SecondLoopback);
    TargetServer echo(TargetServer::Echo);
    auto client = openClient();
    client->write(version == 5 ? socks5Connect(host, echo.serverPort()) : socks4Connect(echo.serverPort(), host));
    const int replyLength = version == 5 ? 12 : 8;
    QTRY_COMPARE(client->bytesAvailable(), qint64(replyLength));
    const QByteArray reply = client->readAll();
    QCOMPARE(echo.peerAddresses, QList<QHostAddress>() << SecondLoopback);
    if (version == 5) {
        QCOMPARE(reply.left(10).toHex(), QByteArray("0500050000017f000002"));
        QCOMPARE(readPort(reply, 10), echo.peerPorts.first());
    } else {
        QCOMPARE(reply.left(2).toHex(), QByteArray("005a"));
        QCOMPARE(reply.mid(4).toHex(), QByteArray("7f000002"));
        QCOMPARE(readPort(reply, 2), echo.peerPorts.first());
    }
    expectEcho(client.get());
    QCOMPARE(logSpy->count(), 0);
}

void TestSocksServer::replies_data()
{
    QTest::addColumn<QString>("bindAddress");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("logLines");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("split");

    const quint16 refused = closedPort();
    const QByteArray greeting = QByteArray::fromHex("050100");
    const QByteArray socks5Refusal = QByteArray::fromHex("0001000000000000");
    const QByteArray socks4Refusal = QByteArray::fromHex("005b000000000000");
    const QByteArray socks4aHead = QByteArray::fromHex("0401005000000001") + QByteArray("u\0", 2);
    // Not an address of this machine: binding to it fails before anything is sent.
    const QString foreignAddress = QStringLiteral("198.18.0.1");
    const QString bindError = QStringLiteral("The address is not available");

    struct Row
    {
        const char *name;
        QString bindAddress;
        QByteArray request;
        QByteArray reply;
        QStringList logLines;
        bool closes;
    };
    const Row rows[] = {
        { "methods 02 and 00", "127.0.0.1", QByteArray::fromHex("05020200"), QByteArray::fromHex("0500"), {}, false },
        { "only method 02", "127.0.0.1", QByteArray::fromHex("050102"), QByteArray::fromHex("05ff"),
            { "SOCKS 5 error: No Authentication method required" }, false },
        { "no method", "127.0.0.1", QByteArray::fromHex("0500"), QByteArray::fromHex("05ff"),
            { "SOCKS 5 error: No Authentication method required" }, false },
        { "address type 4", "127.0.0.1",
            greeting + QByteArray::fromHex("05010004") + QByteArray(15, '\0') + QByteArray::fromHex("010050"),
            QByteArray::fromHex("05000508") + socks5Refusal, { "SOCKS 5 error: does not support IPv6" }, false },
        { "address type 2", "127.0.0.1", greeting + QByteArray::fromHex("050100027f0000010050"),
            QByteArray::fromHex("05000508") + socks5Refusal, { "SOCKS 5 error: does not support IPv6" }, false },
        { "socks 5 bind", "127.0.0.1", greeting + QByteArray::fromHex("050200017f0000010050"),
            QByteArray::fromHex("05000507") + socks5Refusal, { "SOCKS 5 error: does not support bind command" },
            false },
        { "refused requests, one after the other", "127.0.0.1",
            greeting + QByteArray::fromHex("050200017f0000010050")
                + QByteArray::fromHex("05010004000000000000000000000000000000010050"),
            QByteArray::fromHex("05000507") + socks5Refusal + QByteArray::fromHex("0508") + socks5Refusal,
            { "SOCKS 5 error: does not support bind command", "SOCKS 5 error: does not support IPv6" }, false },
        { "socks 4 bind", "127.0.0.1", QByteArray::fromHex("040200507f000001") + '\0', socks4Refusal,
            { "SOCKS 4 error: does not support bind command" }, false },
        { "socks 4a, final NUL missing", "127.0.0.1", socks4aHead + "localhost" + QByteArray(250, 'x'), socks4Refusal,
            { "SOCKS 4 error: unknown protocol" }, false },
        { "socks 4, user id without end", "127.0.0.1", QByteArray::fromHex("040100507f000001") + QByteArray(300, 'u'),
            socks4Refusal, { "SOCKS 4 error: unknown protocol" }, false },
        { "unknown version", "127.0.0.1", QByteArray::fromHex("060100"), QByteArray(),
            { "SOCKS error: unknown version" }, true },
        { "socks 5 name not found", "127.0.0.1",
            greeting + QByteArray::fromHex("05010003") + char(UnresolvableName.size()) + UnresolvableName
                + portBytes(80),
            QByteArray::fromHex("05000504") + socks5Refusal, { "SOCKS 5 error: host not found" }, false },
        { "socks 5 empty name", "127.0.0.1", greeting + QByteArray::fromHex("05010003000050"),
            QByteArray::fromHex("05000504") + socks5Refusal, { "SOCKS 5 error: host not found" }, false },
        { "socks 4a name not found", "127.0.0.1", socks4aHead + UnresolvableName + '\0', socks4Refusal,
            { "SOCKS 4 error: host not found" }, false },
        { "socks 5 connection refused", "127.0.0.1", socks5Connect("127.0.0.1", refused),
            QByteArray::fromHex("05000504") + socks5Refusal, { "SOCKS 5 error: Connection refused" }, true },
        { "socks 4 connection refused", "127.0.0.1", socks4Connect(refused), socks4Refusal,
            { "SOCKS 4 error: Connection refused" }, true },
        { "socks 5 bind address missing", foreignAddress, socks5Connect("127.0.0.1", refused),
            QByteArray::fromHex("05000504") + socks5Refusal, { "SOCKS 5 error: " + bindError }, false },
        { "socks 4 bind address missing", foreignAddress, socks4Connect(refused), socks4Refusal,
            { "SOCKS 4 error: " + bindError }, false },
        { "udp associate, bind address missing", foreignAddress, greeting + QByteArray::fromHex("05030001000000000000"),
            QByteArray::fromHex("05000501") + socks5Refusal, { "SOCKS 5 error: " + bindError }, false },
    };
    for (const Row &row : rows) {
        for (const bool split : { false, true }) {
            QTest::addRow("%s%s", row.name, split ? ", byte by byte" : "")
                << row.bindAddress << row.request << row.reply << row.logLines << row.closes << split;
        }
    }
}

void TestSocksServer::replies()
{
    QFETCH(QString, bindAddress);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, logLines);
    QFETCH(bool, closes);
    QFETCH(bool, split);

    server->setAddress(QHostAddress(bindAddress));
    auto client = openClient();
    if (split) {
        for (const char byte : qAsConst(request)) {
            client->write(&byte, 1);
            client->flush();
            QCoreApplication::processEvents();
        }
    } else {
        client->write(request);
    }
    QTRY_VERIFY_WITH_TIMEOUT(client->bytesAvailable() >= reply.size() && logSpy->count() >= logLines.size(), 10000);
    QCOMPARE(client->readAll().toHex(), reply.toHex());
    QStringList logged;
    for (const QList<QVariant> &arguments : qAsConst(*logSpy))
        logged.append(arguments.first().toString());
    QCOMPARE(logged, logLines);
    if (closes)
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    else
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

void TestSocksServer::splitMessages_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("version");
    QTest::newRow("socks 5, address") << QByteArray("127.0.0.1") << 5;
    QTest::newRow("socks 5, name") << QByteArray("localhost") << 5;
    QTest::newRow("socks 4") << QByteArray() << 4;
    QTest::newRow("socks 4a") << QByteArray("localhost") << 4;
}

// Every cut of the client's first bytes: two writes still make one tunnel; a cut followed by a close harms nothing.
void TestSocksServer::splitMessages()
{
    QFETCH(QByteArray, host);
    QFETCH(int, version);

    TargetServer echo(TargetServer::Echo);
    const QByteArray request
        = version == 5 ? socks5Connect(host, echo.serverPort()) : socks4Connect(echo.serverPort(), host);
    const int replyLength = version == 5 ? 12 : 8;
    for (int cut = 1; cut < request.size(); ++cut) {
        auto abandoned = openClient();
        abandoned->write(request.left(cut));
        abandoned->flush();
        abandoned->abort();

        auto client = openClient();
        client->write(request.left(cut));
        client->flush();
        QCoreApplication::processEvents();
        client->write(request.mid(cut));
        QTRY_COMPARE(client->bytesAvailable(), qint64(replyLength));
        const QByteArray reply = client->readAll();
        QCOMPARE(reply.at(version == 5 ? 3 : 1), version == 5 ? char(0) : char(90));
        expectEcho(client.get());
    }
    QCOMPARE(logSpy->count(), 0);
}

// Random bytes where they cannot lead anywhere but to loopback: a random first byte, SOCKS 4 requests with a
// random command and user id, SOCKS 5 greetings with random methods followed by a request of random command and
// address type. The server survives all of them and still serves.
void TestSocksServer::oddBytes()
{
    QRandomGenerator random(8);
    const quint16 refused = closedPort();
    auto randomBytes = [&random](int size) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        return bytes;
    };
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int round = 0; round < 120; ++round) {
        QByteArray bytes;
        switch (round % 3) {
        case 0:
            bytes = randomBytes(1 + random.bounded(40));
            if (bytes.at(0) == 4 || bytes.at(0) == 5)
                bytes[0] = char(6);
            break;
        case 1:
            bytes = QByteArray::fromHex("04") + randomBytes(1) + portBytes(refused) + QByteArray::fromHex("7f000001")
                + randomBytes(random.bounded(300));
            break;
        default: {
            const int methods = random.bounded(5);
            bytes = QByteArray::fromHex("05") + char(methods) + randomBytes(methods) + randomBytes(3);
            const int type = random.bounded(3);
            if (type == 0)
                bytes += QByteArray::fromHex("017f000001") + portBytes(refused);
            else if (type == 1)
                bytes += QByteArray::fromHex("04") + randomBytes(18);
            else
                bytes += char(5 + random.bounded(250)) + randomBytes(random.bounded(30));
        }
        }
        clients.emplace_back(openClient());
        clients.back()->write(bytes);
        clients.back()->flush();
    }
    TargetServer echo(TargetServer::Echo);
    auto client = openClient();
    client->write(socks5Connect("127.0.0.1", echo.serverPort()));
    QTRY_COMPARE(client->bytesAvailable(), qint64(12));
    client->readAll();
    expectEcho(client.get());
}

// A real SOCKS 5 UDP client, datagrams both ways.
void TestSocksServer::pysocksUdp()
{
    const QString python = QStringLiteral("/usr/bin/python3");
    if (QProcess::execute(python, { "-c", "import socks" }) != 0)
        QSKIP("Debian's python3-socks is not installed (packages/socks.txt lists it)");

    server->setAddress(SecondLoopback);
    QUdpSocket echo;
    QVERIFY(echo.bind(Loopback, 0));
    QList<QHostAddress> senders;
    connect(&echo, &QUdpSocket::readyRead, &echo, [&echo, &senders] {
        while (echo.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = echo.receiveDatagram();
            senders.append(datagram.senderAddress());
            echo.writeDatagram(datagram.makeReply("echo:" + datagram.data()));
        }
    });

    const char *script = "import socket, socks, sys\n"
                         "s = socks.socksocket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                         "s.set_proxy(socks.SOCKS5, '127.0.0.1', int(sys.argv[1]))\n"
                         "s.settimeout(20)\n"
                         "s.bind(('127.0.0.1', 0))\n"
                         "for payload in (b'first', b'second' * 200):\n"
                         "    s.sendto(payload, ('127.0.0.1', int(sys.argv[2])))\n"
                         "    data, (host, port) = s.recvfrom(65535)\n"
                         "    print(len(data), data[:11].decode(), host, port, flush=True)\n";
    QProcess client;
    QSignalSpy finished(&client, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    client.start(python, { "-c", script, QString::number(server->serverPort()), QString::number(echo.localPort()) });
    QVERIFY(finished.wait(60000));
    QVERIFY2(client.exitCode() == 0, client.readAllStandardError().constData());
    const QString port = QString::number(echo.localPort());
    QCOMPARE(QString::fromUtf8(client.readAllStandardOutput()),
        "10 echo:first 127.0.0.1 " + port + "\n1205 echo:second 127.0.0.1 " + port + "\n");
    QCOMPARE(senders, QList<QHostAddress>() << SecondLoopback << SecondLoopback);
}

void TestSocksServer::udpDatagrams_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("ipv4") << QByteArray::fromHex("000000017f000001") << true;
    QTest::newRow("name") << QByteArray::fromHex("0000000309") + "localhost" << true;
    QTest::newRow("ignored reserved bytes") << QByteArray::fromHex("abcd00017f000001") << true;
    QTest::newRow("fragment 1") << QByteArray::fromHex("000001017f000001") << false;
    QTest::newRow("fragment 128") << QByteArray::fromHex("000080017f000001") << false;
    QTest::newRow("address type 4") << QByteArray::fromHex("00000004") + QByteArray(15, '\0') + '\1' << false;
    QTest::newRow("address type 2") << QByteArray::fromHex("000000027f000001") << false;
    QTest::newRow("name not found") << QByteArray::fromHex("0000000310") + UnresolvableName << false;
}

void TestSocksServer::udpDatagrams()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, delivered);

    auto control = openClient();
    control->write(QByteArray::fromHex("05010005030001000000000000"));
    QTRY_COMPARE(control->bytesAvailable(), qint64(12));
    const QByteArray reply = control->readAll();
    QCOMPARE(reply.left(10).toHex(), QByteArray("0500050000017f000001"));
    const quint16 relayPort = readPort(reply, 10);
    QVERIFY(relayPort != 0);

    QUdpSocket destination;
    QVERIFY(destination.bind(Loopback, 0));
    QUdpSocket client;
    QVERIFY(client.bind(Loopback, 0));
    const QByteArray port = portBytes(destination.localPort());
    // The bytes of the case, then cases cut short, then a datagram that must get through: the first one to
    // arrive tells whether the case was dropped.
    client.writeDatagram(header + port + "payload", Loopback, relayPort);
    for (int length = 0; length < header.size() + 2; ++length)
        client.writeDatagram((header + port).left(length), Loopback, relayPort);
    client.writeDatagram(QByteArray::fromHex("000000017f000001") + port + "marker", Loopback, relayPort);
    QTRY_VERIFY(destination.hasPendingDatagrams());
    const QNetworkDatagram first = destination.receiveDatagram();
    QCOMPARE(first.data(), delivered ? QByteArray("payload") : QByteArray("marker"));
    QCOMPARE(first.senderAddress(), Loopback);

    // The answer comes back with the destination's address in front.
    destination.writeDatagram(first.makeReply("answer"));
    QTRY_VERIFY(client.hasPendingDatagrams());
    const QNetworkDatagram answer = client.receiveDatagram();
    QCOMPARE(answer.senderPort(), int(relayPort));
    QCOMPARE(answer.data().toHex(), (QByteArray::fromHex("000000017f000001") + port + "answer").toHex());
}

void TestSocksServer::boundedRelay_data()
{
    QTest::addColumn<bool>("download");
    QTest::newRow("download") << true;
    QTest::newRow("upload") << false;
}

// While one side does not read, the tunnel stops taking the other's bytes: the sender is held back instead of the
// tunnel's memory growing. Once the reader reads, every byte arrives, in order.
void TestSocksServer::boundedRelay()
{
    QFETCH(bool, download);
    const int total = 128 * 1024 * 1024;

    TargetServer target(
        download ? TargetServer::Source : TargetServer::Sink, download ? pattern(0, total) : QByteArray());
    auto client = openClient();
    client->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
    client->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
    client->setReadBufferSize(64 * 1024);
    client->write(socks5Connect("127.0.0.1", target.serverPort()));
    QTRY_COMPARE(client->bytesAvailable(), qint64(12));
    client->read(12);
    QTRY_COMPARE(target.sockets.size(), 1);
    QTcpSocket *remote = target.sockets.first();

    QTcpSocket *sender = download ? remote : client.get();
    QTcpSocket *reader = download ? client.get() : remote;
    if (!download)
        sender->write(pattern(0, total));

    // Wait until the sender has been held back for a second.
    QSignalSpy progress(sender, &QTcpSocket::bytesWritten);
    while (progress.wait(1000))
        progress.clear();
    QVERIFY2(sender->bytesToWrite() > 0, "the tunnel took everything the sender had");

    StreamChecker checker;
    reader->setReadBufferSize(0);
    connect(reader, &QTcpSocket::readyRead, reader, [reader, &checker] { checker.take(reader->readAll()); });
    checker.take(reader->readAll());
    QTRY_COMPARE_WITH_TIMEOUT(checker.received, qint64(total), 120000);
    QCOMPARE(checker.mismatches, qint64(0));
    QCOMPARE(sender->bytesToWrite(), qint64(0));
}

// 200 clients relay at once, each in its own thread; closing the server ends every one of those threads.
void TestSocksServer::manyClients()
{
    const int clientCount = 200;
    TargetServer echo(TargetServer::Echo);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<QByteArray> payloads;
    const QByteArray request = socks5Connect("127.0.0.1", echo.serverPort());
    QRandomGenerator random(200);
    for (int i = 0; i < clientCount; ++i) {
        QByteArray payload(16 * 1024, Qt::Uninitialized);
        for (char &byte : payload)
            byte = char(random.bounded(256));
        payloads.push_back(payload);
        clients.emplace_back(new QTcpSocket);
        clients.back()->connectToHost(Loopback, server->serverPort());
        // Greeting, request and data at once: the data waits in the tunnel until the remote end is connected.
        clients.back()->write(request + payload);
        // The listener's backlog is short: let it take each batch before the next one comes.
        if (i % 50 == 49) {
            QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin(), clients.end(),
                                         [](const std::unique_ptr<QTcpSocket> &client) {
                                             return client->state() == QAbstractSocket::ConnectedState;
                                         }),
                30000);
        }
    }
    const qint64 expected = 12 + payloads.front().size();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(clients.begin(), clients.end(),
            [expected](const std::unique_ptr<QTcpSocket> &client) { return client->bytesAvailable() >= expected; }),
        60000);
    for (int i = 0; i < clientCount; ++i) {
        const QByteArray received = clients[i]->readAll();
        QCOMPARE(received.left(10).toHex(), QByteArray("0500050000017f000001"));
        QVERIFY(received.mid(12) == payloads[i]);
    }
    QCOMPARE(threadCount(), baselineThreads + clientCount);

    server->close();
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baselineThreads, 60000);
    QTRY_VERIFY(std::all_of(clients.begin(), clients.end(), [](const std::unique_ptr<QTcpSocket> &client) {
        return client->state() == QAbstractSocket::UnconnectedState;
    }));
    QCOMPARE(logSpy->count(), 0);
}

NIMBORA_TEST_MAIN(TestSocksServer, QCoreApplication)
#include "tst_socksserver.moc"
