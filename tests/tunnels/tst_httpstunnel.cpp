#include "tunnels/httpsserver.h"

#include "base/settingskeys.h"
#include "tests/support/ports.h"
#include "tests/support/streampattern.h"
#include "tests/support/testcertificate.h"
#include "tests/support/testmain.h"
#include "tests/support/tinyproxy.h"
#include "tests/tunnels/clienthello.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSslEllipticCurve>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QStringList RemoteClosedTexts = { QStringLiteral("Mode https (tunnel) : The remote host closed the connection"),
    QStringLiteral("Mode https (tunnel) : The TLS/SSL connection has been closed") };

// Self-signed for 127.0.0.1 and expired; of openssl 3.0's commands only "ca" takes dates.
bool makeExpiredCertificate(QSslCertificate *certificate, QSslKey *key, QString *error)
{
    QTemporaryDir dir;
    const auto run = [&dir, error](const QStringList &arguments) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start(QStringLiteral("openssl"), arguments);
        if (openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0)
            return true;
        *error = "openssl " + arguments.first() + ": " + QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    };
    QFile config(dir.filePath(QStringLiteral("ca.cnf")));
    if (!config.open(QIODevice::WriteOnly)
        || !QFile(dir.filePath(QStringLiteral("index.txt"))).open(QIODevice::WriteOnly))
        return false;
    config.write("[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nnew_certs_dir = .\nrand_serial = yes\n"
                 "default_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n");
    config.close();
    if (!run({ "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
            "key.pem", "-subj", "/CN=127.0.0.1", "-out", "request.csr" })
        || !run({ "ca", "-batch", "-config", "ca.cnf", "-selfsign", "-keyfile", "key.pem", "-in", "request.csr",
            "-startdate", "20200101000000Z", "-enddate", "20200102000000Z", "-notext", "-out", "cert.pem" }))
        return false;
    QFile certificateFile(dir.filePath(QStringLiteral("cert.pem"))), keyFile(dir.filePath(QStringLiteral("key.pem")));
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    *certificate = QSslCertificate(certificateFile.readAll(), QSsl::Pem);
    *key = QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
    return !certificate->isNull() && !key->isNull();
}

// The VPN server's TLS end, one connection at a time: it echoes what it gets, or holds it unread until the
// test reads the socket itself.
class TlsPeer : public QTcpServer
{
public:
    explicit TlsPeer(bool echo = true) : m_echo(echo) { listen(Loopback, 0); }

    QSslCertificate certificate = TestCertificate::certificate();
    QSslKey key = TestCertificate::privateKey();
    QSsl::SslProtocol protocol = QSsl::SecureProtocols;
    QList<QByteArray> alpn; // the protocols the server picks from
    QVector<QSslEllipticCurve> groups; // the key exchange groups it takes
    bool holdHandshake = false; // the handshake waits for socket->startServerEncryption()
    QPointer<QSslSocket> socket;
    int connections = 0;
    QByteArray received;
    bool disconnected = false;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        delete socket;
        auto *tls = new QSslSocket(this);
        socket = tls;
        ++connections;
        received.clear();
        disconnected = false;
        tls->setSocketDescriptor(descriptor);
        tls->setLocalCertificate(certificate);
        tls->setPrivateKey(key);
        tls->setProtocol(protocol);
        QSslConfiguration configuration = tls->sslConfiguration();
        configuration.setAllowedNextProtocols(alpn);
        if (!groups.isEmpty())
            configuration.setEllipticCurves(groups);
        tls->setSslConfiguration(configuration);
        if (!m_echo)
            tls->setReadBufferSize(64 * 1024);
        connect(tls, &QSslSocket::readyRead, this, [this, tls] {
            // Before the handshake the bytes are the client's hello, which the handshake still needs.
            if (!m_echo || !tls->isEncrypted())
                return;
            const QByteArray bytes = tls->readAll();
            received += bytes;
            tls->write(bytes);
        });
        connect(tls, &QSslSocket::disconnected, this, [this] { disconnected = true; });
        if (!holdHandshake)
            tls->startServerEncryption();
    }

private:
    bool m_echo;
};

// Stands between the tunnel and a server end: passes the bytes on, the server's one byte per write if asked,
// and sends bytes of its own towards the tunnel on request.
class Splitter : public QTcpServer
{
public:
    Splitter(quint16 serverPort, bool oneByteWrites) : m_serverPort(serverPort), m_oneByteWrites(oneByteWrites)
    {
        listen(Loopback, 0);
    }

    void sendToTunnel(const QByteArray &bytes)
    {
        if (m_tunnelSide)
            m_tunnelSide->write(bytes);
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        m_tunnelSide = new QTcpSocket(this);
        m_tunnelSide->setSocketDescriptor(descriptor);
        m_tunnelSide->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *server = new QTcpSocket(this);
        server->connectToHost(Loopback, m_serverPort);
        connect(m_tunnelSide, &QTcpSocket::readyRead, server, [this, server] {
            if (server->state() == QAbstractSocket::ConnectedState)
                server->write(m_tunnelSide->readAll());
        });
        connect(
            server, &QTcpSocket::connected, m_tunnelSide, [this, server] { server->write(m_tunnelSide->readAll()); });
        connect(server, &QTcpSocket::readyRead, m_tunnelSide, [this, server] {
            const QByteArray bytes = server->readAll();
            if (!m_oneByteWrites) {
                m_tunnelSide->write(bytes);
                return;
            }
            for (const char byte : bytes) {
                m_tunnelSide->write(&byte, 1);
                m_tunnelSide->flush();
            }
        });
    }

private:
    quint16 m_serverPort;
    bool m_oneByteWrites;
    QPointer<QTcpSocket> m_tunnelSide;
};

// A server that answers the tunnel's hello with bytes forged from it.
class ForgedServer : public QTcpServer
{
public:
    explicit ForgedServer(std::function<QByteArray(const ClientHello &)> reply) : m_reply(std::move(reply))
    {
        listen(Loopback, 0);
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            m_stream += socket->readAll();
            ClientHello hello;
            if (!m_answered && hello.parse(m_stream)) {
                m_answered = true;
                socket->write(m_reply(hello));
            }
        });
    }

private:
    std::function<QByteArray(const ClientHello &)> m_reply;
    QByteArray m_stream;
    bool m_answered = false;
};

QByteArray lengthPrefixed(const QByteArray &bytes, int lengthSize)
{
    QByteArray prefix;
    for (int shift = 8 * (lengthSize - 1); shift >= 0; shift -= 8)
        prefix += char((bytes.size() >> shift) & 0xff);
    return prefix + bytes;
}

// A handshake record with one server hello.
QByteArray serverHelloRecord(
    const QByteArray &random, const QByteArray &sessionId, const QByteArray &cipher, const QByteArray &extensions)
{
    const QByteArray body = QByteArray::fromHex("0303") + random + lengthPrefixed(sessionId, 1) + cipher
        + QByteArray(1, '\0') + lengthPrefixed(extensions, 2);
    return QByteArray::fromHex("160303") + lengthPrefixed('\x02' + lengthPrefixed(body, 3), 2);
}

// TLS 1.2, selecting a protocol that was not offered.
QByteArray helloWithUnofferedAlpn(const ClientHello &)
{
    return serverHelloRecord(QByteArray(32, '\x11'), QByteArray(), QByteArray::fromHex("c02f"),
        QByteArray::fromHex("ff01000100") + QByteArray::fromHex("0010")
            + lengthPrefixed(lengthPrefixed(lengthPrefixed("spdy/1", 1), 2), 2));
}

// TLS 1.3 asking again for the key share the client already sent.
QByteArray helloRetryForOfferedGroup(const ClientHello &hello)
{
    const QByteArray retryRandom
        = QByteArray::fromHex("cf21ad74e59a6111be1d8c021e65b891c2a211167abb8c5e079e09e2c8a8339c");
    return serverHelloRecord(retryRandom, hello.sessionId, QByteArray::fromHex("1301"),
        QByteArray::fromHex("002b00020304") + QByteArray::fromHex("00330002")
            + QByteArray::fromHex(QByteArray::number(hello.keyShareGroups.value(0), 16).rightJustified(4, '0')));
}

// An application data record header followed by bytes that no key decrypts, larger than any buffer.
QByteArray garbageRecords()
{
    QByteArray bytes;
    while (bytes.size() < 4 << 20)
        bytes += QByteArray::fromHex("1703034000") + QByteArray(0x4000, '\x5a');
    return bytes;
}

// Waits, with the event loop running since the tunnel lives on this thread, for as many bytes as expected.
bool receives(QTcpSocket *socket, const QByteArray &expected)
{
    return QTest::qWaitFor([&] { return socket->bytesAvailable() >= expected.size(); }, 20000)
        && socket->readAll() == expected;
}

} // namespace

class TestHttpsTunnel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void relay_data();
    void relay();
    void remoteClose();
    void localCloseAndRestart();
    void secondConnection();
    void failedConnection();
    void proxyUserAgent();
    void proxyCredentials_data();
    void proxyCredentials();
    void boundedMemory_data();
    void boundedMemory();
    void badServer_data();
    void badServer();

private:
    // The local listener towards a server port, directly or through a proxy, and a client connected to it.
    void start(quint16 remotePort, const QNetworkProxy &proxy = QNetworkProxy(QNetworkProxy::NoProxy),
        const QString &host = Loopback.toString());
    bool connectClient(QTcpSocket *socket);
    QStringList logLines() const;

    std::unique_ptr<HttpsServer> m_server;
    std::unique_ptr<QSignalSpy> m_logs;
    std::unique_ptr<QTcpSocket> m_client;
};

void TestHttpsTunnel::initTestCase()
{
    QString error;
    if (!TestCertificate::generate(&error))
        QSKIP(qPrintable(error));
}

// The tunnel stops before it goes: it must not be destroyed while it carries a connection.
void TestHttpsTunnel::cleanup()
{
    if (m_server)
        m_server->close();
    m_logs.reset();
    m_server.reset();
    m_client.reset();
}

void TestHttpsTunnel::start(quint16 remotePort, const QNetworkProxy &proxy, const QString &host)
{
    m_server.reset(new HttpsServer);
    m_logs.reset(new QSignalSpy(m_server.get(), &HttpsServer::log));
    m_server->setHost(host);
    m_server->setPort(remotePort);
    m_server->setProxy(proxy);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_client.reset(new QTcpSocket);
    QVERIFY(connectClient(m_client.get()));
}

bool TestHttpsTunnel::connectClient(QTcpSocket *socket)
{
    socket->connectToHost(Loopback, m_server->serverPort());
    return socket->waitForConnected(5000);
}

QStringList TestHttpsTunnel::logLines() const
{
    QStringList lines;
    for (const QList<QVariant> &line : qAsConst(*m_logs))
        lines += line.first().toString();
    return lines;
}

void TestHttpsTunnel::relay_data()
{
    QTest::addColumn<bool>("expiredForAnotherName");
    QTest::addColumn<bool>("tls13Only");
    QTest::addColumn<QByteArray>("alpn");
    QTest::addColumn<QString>("group");
    QTest::newRow("self-signed, expired, for another name") << true << false << QByteArray() << QString();
    QTest::newRow("server that speaks only TLS 1.3") << false << true << QByteArray() << QString();
    QTest::newRow("server that picks HTTP/2") << false << false << QByteArray("h2") << QString();
    QTest::newRow("server that asks for another key share") << false << true << QByteArray() << "prime256v1";
}

// Bytes that the client sends before the TLS connection is up, and afterwards, go out unchanged whatever the
// server's certificate, the protocol it picks or the key share it asks for, and the server's bytes come back
// unchanged.
void TestHttpsTunnel::relay()
{
    QFETCH(bool, expiredForAnotherName);
    QFETCH(bool, tls13Only);
    QFETCH(QByteArray, alpn);
    QFETCH(QString, group);

    TlsPeer peer;
    if (!alpn.isEmpty())
        peer.alpn = { alpn };
    if (!group.isEmpty())
        peer.groups = { QSslEllipticCurve::fromShortName(group) };
    QString error;
    if (expiredForAnotherName)
        QVERIFY2(makeExpiredCertificate(&peer.certificate, &peer.key, &error), qPrintable(error));
    if (tls13Only)
        peer.protocol = QSsl::TlsV1_3OrLater;
    peer.holdHandshake = true;
    // The certificate names 127.0.0.1.
    start(peer.serverPort(), QNetworkProxy(QNetworkProxy::NoProxy),
        expiredForAnotherName ? QStringLiteral("localhost") : Loopback.toString());
    const QByteArray early = streamPattern(0, 1000);
    m_client->write(early);
    QTRY_VERIFY(peer.socket);
    QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Connected);
    const QByteArray later = streamPattern(1000, 300000);
    m_client->write(later);
    QVERIFY(m_client->waitForBytesWritten(5000));
    peer.socket->startServerEncryption();

    QVERIFY(receives(m_client.get(), early + later));
    QCOMPARE(peer.received, early + later);
    if (tls13Only)
        QCOMPARE(peer.socket->sessionProtocol(), QSsl::TlsV1_3);
    QCOMPARE(peer.socket->sslConfiguration().nextNegotiatedProtocol(), alpn);
    QCOMPARE(logLines(), QStringList());
}

// The server's last bytes still reach the client, then the remote close is logged and the local connection closes.
void TestHttpsTunnel::remoteClose()
{
    TlsPeer peer;
    start(peer.serverPort());
    m_client->write("hello");
    QVERIFY(receives(m_client.get(), "hello"));

    const QByteArray last = streamPattern(0, 200000);
    peer.socket->write(last);
    peer.socket->disconnectFromHost();
    QVERIFY(receives(m_client.get(), last));
    QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
    // The TLS layer reports the peer's close_notify, then the TCP layer the close itself.
    QVERIFY(!logLines().isEmpty());
    for (const QString &line : logLines())
        QVERIFY2(RemoteClosedTexts.contains(line), qPrintable(line));
    QVERIFY(m_server->isListening());
}

// The client going away closes the TLS connection after its last bytes; the server keeps listening and the next
// local connection gets a clean tunnel. Closing the server then logs nothing.
void TestHttpsTunnel::localCloseAndRestart()
{
    TlsPeer peer;
    start(peer.serverPort());
    for (int round = 0; round < 2; ++round) {
        if (round > 0)
            QVERIFY(connectClient(m_client.get()));
        const QByteArray bytes = streamPattern(round, 100000);
        m_client->write(bytes);
        QVERIFY(receives(m_client.get(), bytes));
        QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Connected);

        m_client->write("last");
        m_client->disconnectFromHost();
        QTRY_VERIFY(peer.disconnected);
        QCOMPARE(peer.received, bytes + "last");
        QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
        QVERIFY(m_server->isListening());
    }
    m_logs->clear();
    m_server->close();
    QVERIFY(!m_server->isListening());
    QCOMPARE(logLines(), QStringList());
}

// OpenVPN starting over while its old connection is still carried: the old one ends, the new one gets a TLS
// connection of its own. Closing the server ends the one being carried.
void TestHttpsTunnel::secondConnection()
{
    TlsPeer peer;
    start(peer.serverPort());
    m_client->write("first");
    QVERIFY(receives(m_client.get(), "first"));

    QTcpSocket second;
    QVERIFY(connectClient(&second));
    QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
    second.write("second");
    QVERIFY(receives(&second, "second"));
    QCOMPARE(peer.connections, 2);
    QCOMPARE(m_server->tunnelState(), HttpsTunnel::Connected);

    m_server->close();
    QCOMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY(peer.disconnected);
}

void TestHttpsTunnel::failedConnection()
{
    const RefusingPort refusing;
    start(refusing.port());
    m_client->write("lost");
    QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
    QCOMPARE(logLines(), QStringList { "Mode https (tunnel) : Connection refused" });
}

// The CONNECT request to an HTTP proxy carries the user agent.
void TestHttpsTunnel::proxyUserAgent()
{
    QSettings().setValue(SettingsKeys::UserAgent, QStringLiteral("Agent/2.0 (test; settings)"));
    QTcpServer proxy;
    QVERIFY(proxy.listen(Loopback, 0));
    start(4433, QNetworkProxy(QNetworkProxy::HttpProxy, Loopback.toString(), proxy.serverPort()));
    QTRY_VERIFY(proxy.hasPendingConnections());
    QTcpSocket *request = proxy.nextPendingConnection();
    QTRY_VERIFY(request->peek(64 * 1024).contains("\r\n\r\n"));
    const QByteArray head = request->readAll();
    QVERIFY2(head.startsWith("CONNECT 127.0.0.1:4433 HTTP/1.")
            && head.contains("\r\nUser-Agent: Agent/2.0 (test; settings)\r\n"),
        head.constData());
    // Gone without an answer: the tunnel stops at once instead of in the cleanup's wait.
    request->abort();
    QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
}

void TestHttpsTunnel::proxyCredentials_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("credentials given when asked") << true;
    QTest::newRow("no credentials") << false;
}

// A real proxy that asks for Basic credentials: they are asked for through the signal; without them the proxy's
// refusal is logged and the local connection closes.
void TestHttpsTunnel::proxyCredentials()
{
    QFETCH(bool, answer);
    if (TinyProxy::program().isEmpty())
        QSKIP("tinyproxy is not installed");
    TinyProxy tinyproxy;
    QVERIFY2(
        tinyproxy.start(QStringLiteral("proxyuser"), QStringLiteral("proxypass")), qPrintable(tinyproxy.errorString()));

    TlsPeer peer;
    int asked = 0;
    const auto ask = [&asked, answer](const QNetworkProxy &, QAuthenticator *authenticator) {
        ++asked;
        if (answer) {
            authenticator->setUser(QStringLiteral("proxyuser"));
            authenticator->setPassword(QStringLiteral("proxypass"));
        }
    };
    start(peer.serverPort(), QNetworkProxy(QNetworkProxy::HttpProxy, Loopback.toString(), tinyproxy.port()));
    connect(m_server.get(), &HttpsServer::proxyAuthenticationRequired, this, ask);
    m_client->write("through tinyproxy");
    if (answer) {
        QVERIFY(receives(m_client.get(), "through tinyproxy"));
        QCOMPARE(logLines(), QStringList());
    } else {
        QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
        QVERIFY2(
            logLines().value(0).startsWith(QStringLiteral("Mode https (tunnel) : ")), qPrintable(logLines().value(0)));
        QVERIFY(peer.received.isEmpty());
    }
    QCOMPARE(asked, 1);
}

void TestHttpsTunnel::boundedMemory_data()
{
    QTest::addColumn<bool>("towardsClient");
    QTest::newRow("server to a slow client") << true;
    QTest::newRow("client to a slow server") << false;
}

// While the receiving end reads nothing, the sending end soon stands still: what is in flight is what the system's
// socket buffers hold plus the tunnel's bound, not the whole stream. Once the reader reads, every byte arrives in
// order.
void TestHttpsTunnel::boundedMemory()
{
    QFETCH(bool, towardsClient);
    constexpr qint64 StreamSize = 48 << 20;
    // Loopback socket buffers grow to a few MiB each; four of them lie on the way.
    constexpr qint64 InFlightBound = 32 << 20;

    TlsPeer peer(false);
    start(peer.serverPort());
    m_client->setReadBufferSize(64 * 1024);
    QTRY_VERIFY(peer.socket && peer.socket->isEncrypted());
    QIODevice *const ends[] = { m_client.get(), peer.socket.data() };

    StreamWriter writer(ends[towardsClient ? 1 : 0], StreamSize);
    writer.start();
    writer.waitUntilStalled();
    QVERIFY2(writer.written() < InFlightBound, qPrintable(QString::number(writer.written())));

    StreamChecker checker;
    checker.attach(ends[towardsClient ? 0 : 1]);
    QTRY_VERIFY_WITH_TIMEOUT(checker.received() == StreamSize || checker.failed(), 120000);
    QVERIFY(!checker.failed());
}

enum BadServer { UnofferedAlpn, RetryForOfferedGroup, OneByteWrites, GarbageAfterHandshake, GarbageForHello };

void TestHttpsTunnel::badServer_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("logged"); // the start of the only log line; none when empty
    QTest::addColumn<QString>("reason"); // its end: OpenSSL's own words
    const QString handshakeFailed = QStringLiteral("Mode https (tunnel) : Error during SSL handshake: ");
    QTest::newRow("protocol that was not offered") << int(UnofferedAlpn) << handshakeFailed << "bad extension";
    QTest::newRow("retry asking for the key share sent")
        << int(RetryForOfferedGroup) << handshakeFailed << "bad key share";
    QTest::newRow("records split into one-byte writes") << int(OneByteWrites) << QString() << QString();
    QTest::newRow("garbage after the handshake")
        << int(GarbageAfterHandshake) << QStringLiteral("Mode https (tunnel) : Error while reading: ")
        << "decryption failed or bad record mac";
    QTest::newRow("garbage for a hello") << int(GarbageForHello) << handshakeFailed << "unexpected message";
}

// A server that breaks the TLS protocol is logged and the local connection closed, with nothing of its bytes
// passed on; one that only splits its records is relayed as any other.
void TestHttpsTunnel::badServer()
{
    QFETCH(int, server);
    QFETCH(QString, logged);
    QFETCH(QString, reason);

    TlsPeer peer;
    Splitter splitter(peer.serverPort(), server == OneByteWrites);
    std::unique_ptr<ForgedServer> forged;
    if (server == UnofferedAlpn)
        forged.reset(new ForgedServer(helloWithUnofferedAlpn));
    else if (server == RetryForOfferedGroup)
        forged.reset(new ForgedServer(helloRetryForOfferedGroup));
    else if (server == GarbageForHello)
        forged.reset(new ForgedServer([](const ClientHello &) { return garbageRecords(); }));
    start(forged ? forged->serverPort() : splitter.serverPort());

    if (server == OneByteWrites || server == GarbageAfterHandshake) {
        const QByteArray bytes = streamPattern(0, 20000);
        m_client->write(bytes);
        QVERIFY(receives(m_client.get(), bytes));
    }
    if (server == GarbageAfterHandshake)
        splitter.sendToTunnel(garbageRecords());

    if (logged.isEmpty()) {
        QCOMPARE(m_server->tunnelState(), HttpsTunnel::Connected);
        QCOMPARE(logLines(), QStringList());
        return;
    }
    QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->tunnelState(), HttpsTunnel::Stopped);
    QCOMPARE(m_client->bytesAvailable(), 0);
    QCOMPARE(logLines().size(), 1);
    QVERIFY2(logLines().constFirst().startsWith(logged) && logLines().constFirst().endsWith(reason),
        qPrintable(logLines().constFirst()));
    QVERIFY(m_server->isListening());
}

NIMBORA_TEST_MAIN(TestHttpsTunnel, QCoreApplication)

#include "tst_httpstunnel.moc"
