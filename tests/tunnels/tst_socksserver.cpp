#include "tunnels/socksserver.h"
#include "tunnels/sockstunnel.h"

#include "tests/support/ports.h"
#include "tests/support/streampattern.h"
#include "tests/support/testmain.h"
#include "tests/support/threadnames.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
// Another loopback address, so that the outgoing sockets' binding shows.
const QHostAddress SecondLoopback(QStringLiteral("127.0.0.2"));
// Fails at once, inside Qt, without any query leaving the machine: a name with an empty label.
const QByteArray UnresolvableName("nowhere..invalid");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

quint16 freePortBelowEphemeralRange()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    int low = 32768;
    bool read = false;
    if (range.open(QIODevice::ReadOnly)) {
        const int first = range.readAll().simplified().split(' ').first().toInt(&read);
        if (read)
            low = qBound(1025, first, 32768);
    }
    for (int port = low - 1; port > 1024; port -= 13) {
        QUdpSocket probe;
        if (probe.bind(QHostAddress::LocalHost, quint16(port), QUdpSocket::DontShareAddress))
            return quint16(port);
    }
    return 0;
}

QByteArray portBytes(quint16 port)
{
    return QByteArray(1, char(port >> 8)) + char(port & 0xff);
}

// SOCKS 5: greeting and CONNECT to 127.0.0.1 or a name. SOCKS 4: CONNECT to 127.0.0.1, or 4a to a name.
QByteArray connectRequest(int version, const QByteArray &host, quint16 port)
{
    const QByteArray user("u\0", 2);
    if (version == 4 && host.isEmpty())
        return hex("0401") + portBytes(port) + hex("7f000001") + user;
    if (version == 4)
        return hex("0401") + portBytes(port) + hex("00000001") + user + host + '\0';
    if (host == "127.0.0.1")
        return hex("050100050100017f000001") + portBytes(port);
    return hex("05010005010003") + char(host.size()) + host + portBytes(port);
}

// Peer for the relays: answers one HTTP GET, echoes, or holds what it gets unread.
class TargetServer : public QTcpServer
{
public:
    enum Mode { Http, Echo, Hold };

    explicit TargetServer(Mode mode, const QByteArray &body = QByteArray()) : m_mode(mode), m_body(body)
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
            if (m_mode == Http) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->setProperty("request", socket->property("request").toByteArray() + socket->readAll());
                    if (!socket->property("request").toByteArray().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(m_body.size())
                        + "\r\nConnection: close\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
            } else if (m_mode == Echo) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
            } else {
                socket->setReadBufferSize(64 * 1024);
            }
        }
    }

    Mode m_mode;
    QByteArray m_body;
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
    void connectRequests_data();
    void connectRequests();
    void refusals_data();
    void refusals();
    void pysocksUdp();
    void udpDatagrams_data();
    void udpDatagrams();
    void boundedRelay_data();
    void boundedRelay();
    void manyClients();
    void unfinishedRequests();

private:
    std::unique_ptr<QTcpSocket> openClient();
    void expectEcho(QTcpSocket *client);

    std::unique_ptr<SocksServer> m_server;
    std::unique_ptr<QSignalSpy> m_logSpy;
    RefusingPort m_refusing;
};

void TestSocksServer::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
}

void TestSocksServer::init()
{
    m_server.reset(new SocksServer);
    m_server->setAddress(Loopback);
    m_logSpy.reset(new QSignalSpy(m_server.get(), &SocksServer::log));
    QVERIFY(m_server->listen(Loopback, 0));
}

// Closing the server ends every tunnel, whatever it was doing.
void TestSocksServer::cleanup()
{
    SocksTunnel::setHandshakeTimeLimit(SocksTunnel::HandshakeTimeLimit);
    m_server->close();
    QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("SocksTunnel"), 0, 40000);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_logSpy.reset();
    m_server.reset();
}

std::unique_ptr<QTcpSocket> TestSocksServer::openClient()
{
    std::unique_ptr<QTcpSocket> client(new QTcpSocket);
    client->connectToHost(Loopback, m_server->serverPort());
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

    m_server->setAddress(SecondLoopback);
    const QByteArray body = streamPattern(0, 1024 * 1024);
    TargetServer web(TargetServer::Http, body);
    QProcess curl;
    QSignalSpy finished(&curl, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    curl.start(curlPath,
        { "-q", "-sS", "--max-time", "60", option, QStringLiteral("127.0.0.1:%1").arg(m_server->serverPort()),
            QStringLiteral("http://localhost:%1/file").arg(web.serverPort()) });
    QVERIFY(finished.wait(90000));
    QVERIFY2(curl.exitCode() == 0, curl.readAllStandardError().constData());
    QVERIFY(curl.readAllStandardOutput() == body);
    QCOMPARE(web.peerAddresses, QList<QHostAddress>() << SecondLoopback);
    QCOMPARE(m_logSpy->count(), 0);
}

void TestSocksServer::connectRequests_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("socks 5, address") << 5 << QByteArray("127.0.0.1");
    QTest::newRow("socks 5, name") << 5 << QByteArray("localhost");
    QTest::newRow("socks 4") << 4 << QByteArray();
    QTest::newRow("socks 4a") << 4 << QByteArray("localhost");
}

// The request whole, then cut at every place into two writes: each time one tunnel, whose success reply names
// the outgoing socket's own end on the bind address. A client that sends part of it and goes away harms nothing.
void TestSocksServer::connectRequests()
{
    QFETCH(int, version);
    QFETCH(QByteArray, host);

    m_server->setAddress(SecondLoopback);
    TargetServer echo(TargetServer::Echo);
    const QByteArray request = connectRequest(version, host, echo.serverPort());
    for (int cut = 0; cut < request.size(); ++cut) {
        auto abandoned = openClient();
        abandoned->write(request.left(cut));
        abandoned->flush();
        abandoned->abort();

        auto client = openClient();
        client->write(request.left(cut));
        client->flush();
        QCoreApplication::processEvents();
        client->write(request.mid(cut));
        QTRY_COMPARE(client->bytesAvailable(), qint64(version == 5 ? 12 : 8));
        QTRY_COMPARE(echo.peerPorts.size(), cut + 1);
        const QByteArray port = portBytes(echo.peerPorts.last());
        const QByteArray reply
            = version == 5 ? hex("0500050000017f000002") + port : hex("005a") + port + hex("7f000002");
        QCOMPARE(client->readAll().toHex(), reply.toHex());
        expectEcho(client.get());
    }
    QCOMPARE(echo.peerAddresses.count(SecondLoopback), echo.peerAddresses.size());
    QCOMPARE(m_logSpy->count(), 0);
}

// Requests the server turns down, whole and byte by byte: the reply, the log lines, and whether the connection ends.
void TestSocksServer::refusals_data()
{
    QTest::addColumn<bool>("foreignBind"); // the bind address is none of this machine's: binding fails at once
    QTest::addColumn<QString>("request"); // hex; pppp is a port that refuses connections
    QTest::addColumn<QString>("reply"); // hex
    QTest::addColumn<QString>("log"); // lines joined by '|'
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("split");
    const auto row = [](const char *name, bool foreignBind, const QString &request, const QString &reply,
                         const QString &log, bool closes) {
        for (const bool split : { false, true }) {
            QTest::addRow("%s%s", name, split ? ", byte by byte" : "")
                << foreignBind << request << reply << log << closes << split;
        }
    };

    // The SOCKS 5 greeting and its answer; the refusals carry no address.
    const QString hello = "050100", welcome = "0500", unreachable = "05040001000000000000", no4 = "005b000000000000";
    const QString noIPv6 = "05080001000000000000", ipv6 = "05010004" + QString(32, '0') + "0050";
    const QString unresolvable = "106e6f77686572652e2e696e76616c6964"; // UnresolvableName after its length
    const QString e4 = "SOCKS 4 error: ", e5 = "SOCKS 5 error: ", bindError = "The address is not available";
    row("methods 02 and 00", false, "05020200", welcome, "", false);
    row("only method 02", false, "050102", "05ff", e5 + "No Authentication method required", false);
    row("address type 4", false, hello + ipv6, welcome + noIPv6, e5 + "does not support IPv6", false);
    // Nothing after the address type: what followed it could not be framed and would be read as another request.
    row("address type 2", false, hello + "05010002", welcome + noIPv6, e5 + "does not support IPv6", false);
    row("bind, then IPv6: one refusal after the other", false, hello + "050200017f0000010050" + ipv6,
        welcome + "05070001000000000000" + noIPv6, e5 + "does not support bind command|" + e5 + "does not support IPv6",
        false);
    row("socks 4 bind", false, "040200507f00000100", no4, e4 + "does not support bind command", false);
    row("socks 4, user id without end", false, "040100507f000001" + QString("75").repeated(300), no4,
        e4 + "unknown protocol", false);
    row("unknown version", false, "060100", "", "SOCKS error: unknown version", true);
    row("socks 5 name not found", false, hello + "05010003" + unresolvable + "0050", welcome + unreachable,
        e5 + "host not found", false);
    row("socks 4a name not found", false, "04010050000000017500" + unresolvable.mid(2) + "00", no4,
        e4 + "host not found", false);
    row("socks 5 connection refused", false, hello + "050100017f000001pppp", welcome + unreachable,
        e5 + "Connection refused", true);
    row("socks 4 connection refused", false, "0401pppp7f0000017500", no4, e4 + "Connection refused", true);
    row("socks 5 bind address missing", true, hello + "050100017f000001pppp", welcome + unreachable, e5 + bindError,
        false);
    row("socks 4 bind address missing", true, "0401pppp7f0000017500", no4, e4 + bindError, false);
    row("udp associate, bind address missing", true, hello + "05030001000000000000", welcome + "05010001000000000000",
        e5 + bindError, false);
}

void TestSocksServer::refusals()
{
    QFETCH(bool, foreignBind);
    QFETCH(QString, request);
    QFETCH(QString, reply);
    QFETCH(QString, log);
    QFETCH(bool, closes);
    QFETCH(bool, split);

    if (foreignBind)
        m_server->setAddress(QHostAddress(QStringLiteral("198.18.0.1")));
    const QByteArray bytes = hex(request.replace("pppp", portBytes(m_refusing.port()).toHex()).toLatin1());
    auto client = openClient();
    for (int at = 0; at < bytes.size(); at += split ? 1 : bytes.size()) {
        client->write(bytes.mid(at, split ? 1 : -1));
        client->flush();
        QCoreApplication::processEvents();
    }
    const QStringList lines = log.isEmpty() ? QStringList() : log.split(QLatin1Char('|'));
    QTRY_VERIFY_WITH_TIMEOUT(client->bytesAvailable() >= reply.size() / 2 && m_logSpy->count() >= lines.size(), 10000);
    QCOMPARE(client->readAll().toHex(), reply.toLatin1());
    QStringList logged;
    for (const QList<QVariant> &arguments : qAsConst(*m_logSpy))
        logged.append(arguments.first().toString());
    QCOMPARE(logged, lines);
    if (closes)
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    else
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

// A real SOCKS 5 UDP client, datagrams both ways.
void TestSocksServer::pysocksUdp()
{
    const QString python = QStringLiteral("/usr/bin/python3");
    if (QProcess::execute(python, { "-c", "import socks" }) != 0)
        QSKIP("Debian's python3-socks is not installed (packages/socks.txt lists it)");

    m_server->setAddress(SecondLoopback);
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
    client.start(python, { "-c", script, QString::number(m_server->serverPort()), QString::number(echo.localPort()) });
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
    QTest::newRow("name") << hex("0000000309") + "localhost" << true;
    QTest::newRow("fragment 1") << hex("000001017f000001") << false;
    QTest::newRow("address type 4") << hex("00000004") + QByteArray(15, '\0') + '\1' << false;
    QTest::newRow("name not found") << hex("0000000310") + UnresolvableName << false;
}

void TestSocksServer::udpDatagrams()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, delivered);

    // The client names a port for its datagrams; the relay's way out must not take it (on the physical address a
    // local user would get any port, privileged ones too, through a program running as root). The port named is a
    // free one below the range the system hands out by itself, so that a relay on a port of its own never has it.
    const quint16 askedPort = freePortBelowEphemeralRange();
    QVERIFY(askedPort != 0);
    auto control = openClient();
    control->write(hex("0501000503000100000000") + portBytes(askedPort));
    QTRY_COMPARE(control->bytesAvailable(), qint64(12));
    const QByteArray reply = control->readAll();
    QCOMPARE(reply.left(10).toHex(), QByteArray("0500050000017f000001"));
    const quint16 relayPort = quint16((quint8(reply.at(10)) << 8) | quint8(reply.at(11)));
    QVERIFY(relayPort != 0);

    QUdpSocket destination;
    QVERIFY(destination.bind(Loopback, 0));
    QUdpSocket client;
    QVERIFY(client.bind(Loopback, 0));
    const QByteArray port = portBytes(destination.localPort());
    // The bytes of the case, then cases cut short, then a plain IPv4 datagram that must get through: the first one
    // to arrive tells whether the case was dropped.
    client.writeDatagram(header + port + "payload", Loopback, relayPort);
    for (int length = 0; length < header.size() + 2; ++length)
        client.writeDatagram((header + port).left(length), Loopback, relayPort);
    client.writeDatagram(hex("000000017f000001") + port + "marker", Loopback, relayPort);
    QTRY_VERIFY(destination.hasPendingDatagrams());
    const QNetworkDatagram first = destination.receiveDatagram();
    QCOMPARE(first.data(), delivered ? QByteArray("payload") : QByteArray("marker"));
    QCOMPARE(first.senderAddress(), Loopback);
    QVERIFY(first.senderPort() != askedPort);

    // The answer comes back with the destination's address in front.
    destination.writeDatagram(first.makeReply("answer"));
    QTRY_VERIFY(client.hasPendingDatagrams());
    const QNetworkDatagram answer = client.receiveDatagram();
    QCOMPARE(answer.senderPort(), int(relayPort));
    QCOMPARE(answer.data().toHex(), (hex("000000017f000001") + port + "answer").toHex());
}

void TestSocksServer::boundedRelay_data()
{
    QTest::addColumn<bool>("download");
    QTest::newRow("download") << true;
    QTest::newRow("upload") << false;
}

// While one side does not read, the tunnel stops taking the other's bytes: the writer is held back instead of the
// tunnel's memory growing. Once the reader reads, every byte arrives, in order.
void TestSocksServer::boundedRelay()
{
    QFETCH(bool, download);
    constexpr qint64 StreamSize = 48 << 20;
    // The tunnel's sockets take a few MiB each in the system's buffers; the ends here are kept small.
    constexpr qint64 InFlightBound = 32 << 20;

    TargetServer target(TargetServer::Hold);
    auto client = openClient();
    client->setReadBufferSize(64 * 1024);
    client->write(connectRequest(5, "127.0.0.1", target.serverPort()));
    QTRY_COMPARE(client->bytesAvailable(), qint64(12));
    client->read(12);
    QTRY_COMPARE(target.sockets.size(), 1);
    QTcpSocket *remote = target.sockets.first();
    for (QTcpSocket *end : { client.get(), remote }) {
        end->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
        end->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
    }

    StreamWriter writer(download ? remote : client.get(), StreamSize);
    writer.start();
    writer.waitUntilStalled();
    QVERIFY2(writer.written() < InFlightBound, qPrintable(QString::number(writer.written())));

    StreamChecker checker;
    checker.attach(download ? client.get() : remote);
    QTRY_VERIFY_WITH_TIMEOUT(checker.received() == StreamSize || checker.failed(), 120000);
    QVERIFY(!checker.failed());
}

// 200 clients relay at once, each in a thread of its own; closing the server ends every one of those threads.
void TestSocksServer::manyClients()
{
    const int clientCount = 200;
    TargetServer echo(TargetServer::Echo);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    const QByteArray request = connectRequest(5, "127.0.0.1", echo.serverPort());
    const auto payload = [](int client) { return streamPattern(client, 16 * 1024); };
    const auto all = [&clients](const std::function<bool(QTcpSocket *)> &condition) {
        return std::all_of(clients.begin(), clients.end(), [&](const auto &client) { return condition(client.get()); });
    };
    for (int i = 0; i < clientCount; ++i) {
        clients.emplace_back(new QTcpSocket);
        clients.back()->connectToHost(Loopback, m_server->serverPort());
        // Greeting, request and data at once: the data waits in the tunnel until the remote end is connected.
        clients.back()->write(request + payload(i));
        // The listener's backlog is short: let it take each batch before the next one comes.
        if (i % 50 == 49)
            QTRY_VERIFY_WITH_TIMEOUT(
                all([](QTcpSocket *c) { return c->state() == QAbstractSocket::ConnectedState; }), 30000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(all([](QTcpSocket *c) { return c->bytesAvailable() >= 12 + 16 * 1024; }), 60000);
    for (int i = 0; i < clientCount; ++i) {
        const QByteArray received = clients[i]->readAll();
        QCOMPARE(received.left(10).toHex(), QByteArray("0500050000017f000001"));
        QVERIFY(received.mid(12) == payload(i));
    }
    QCOMPARE(threadsNamed("SocksTunnel"), clientCount);

    m_server->close();
    QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("SocksTunnel"), 0, 60000);
    QTRY_VERIFY(all([](QTcpSocket *c) { return c->state() == QAbstractSocket::UnconnectedState; }));
    QCOMPARE(m_logSpy->count(), 0);
}

// Clients that never finish their greeting or request lose their connection and thread after the limit;
// a client that asks properly is served meanwhile and keeps relaying past the limit.
void TestSocksServer::unfinishedRequests()
{
    SocksTunnel::setHandshakeTimeLimit(2000);
    TargetServer echo(TargetServer::Echo);
    // A SOCKS 4 user id that never ends, a greeting short of its methods, nothing at all.
    const QList<QByteArray> unfinished { hex("040100507f000001") + "user", hex("0502"), QByteArray() };
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < 60; ++i) {
        stalled.push_back(openClient());
        stalled.back()->write(unfinished.at(i % unfinished.size()));
    }
    auto client = openClient();
    client->write(connectRequest(5, "127.0.0.1", echo.serverPort()));
    QTRY_COMPARE(client->bytesAvailable(), qint64(12));
    client->readAll();
    expectEcho(client.get());

    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(stalled.begin(), stalled.end(),
                                 [](const auto &c) { return c->state() == QAbstractSocket::UnconnectedState; }),
        30000);
    QTRY_COMPARE(threadsNamed("SocksTunnel"), 1);
    expectEcho(client.get());
    QCOMPARE(m_logSpy->count(), 60);
    QCOMPARE(m_logSpy->first().first().toString(), QStringLiteral("SOCKS error: no complete request in time"));
}

NIMBORA_TEST_MAIN(TestSocksServer, QCoreApplication)
#include "tst_socksserver.moc"
