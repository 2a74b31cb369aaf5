#include "tunnels/httpsserver.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "tests/support/testcertificate.h"
#include "tests/support/testmain.h"
#include "tests/support/tinyproxy.h"
#include "tests/tunnels/tst_httpspeers.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QStringList RemoteClosedTexts = { QStringLiteral("Mode https (tunnel) : The remote host closed the connection"),
    QStringLiteral("Mode https (tunnel) : The TLS/SSL connection has been closed") };

quint16 closedPort()
{
    QTcpServer server;
    server.listen(Loopback, 0);
    return server.serverPort();
}

// Reads from the socket until `size` bytes came, or the time is up; the event loop runs meanwhile,
// since the tunnel lives on this thread.
QByteArray readExactly(QTcpSocket *socket, int size, int timeout = 20000)
{
    QByteArray bytes;
    QElapsedTimer timer;
    timer.start();
    QSignalSpy readyRead(socket, &QIODevice::readyRead);
    while (timer.elapsed() < timeout) {
        bytes += socket->read(size - bytes.size());
        if (bytes.size() >= size || !readyRead.wait(int(qMax<qint64>(1, timeout - timer.elapsed()))))
            break;
    }
    bytes += socket->read(size - bytes.size());
    return bytes;
}

} // namespace

class TestHttpsTunnel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void relay_data();
    void relay();
    void remoteClose();
    void localCloseAndRestart();
    void secondConnection();
    void failedConnection();
    void closeWithoutTunnel();
    void proxyUserAgent_data();
    void proxyUserAgent();
    void proxyCredentials_data();
    void proxyCredentials();
    void boundedMemory_data();
    void boundedMemory();

private:
    std::unique_ptr<HttpsServer> startServer(quint16 remotePort, const QNetworkProxy &proxy = QNetworkProxy());
};

void TestHttpsTunnel::initTestCase()
{
    QString error;
    if (!TestCertificate::generate(&error))
        QSKIP(qPrintable(error));
}

std::unique_ptr<HttpsServer> TestHttpsTunnel::startServer(quint16 remotePort, const QNetworkProxy &proxy)
{
    auto server = std::make_unique<HttpsServer>();
    server->setHost(QStringLiteral("127.0.0.1"));
    server->setPort(remotePort);
    server->setProxy(proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy);
    if (!server->listen(QHostAddress::LocalHost, 0))
        return nullptr;
    return server;
}

void TestHttpsTunnel::relay_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("tls13Only");

    QTest::newRow("self-signed") << "self-signed" << false;
    QTest::newRow("expired") << "expired" << false;
    QTest::newRow("for another name") << "wrong name" << false;
    QTest::newRow("server that speaks only TLS 1.3") << "self-signed" << true;
}

// Bytes that the client sends before the TLS connection is up, and afterwards, go out unchanged
// whatever the server's certificate, and the server's bytes come back unchanged.
void TestHttpsTunnel::relay()
{
    QFETCH(QString, certificate);
    QFETCH(bool, tls13Only);

    TlsPeer peer;
    QString error;
    QVERIFY2(peer.setCertificate(certificate, &error), qPrintable(error));
    if (tls13Only)
        peer.setProtocol(QSsl::TlsV1_3OrLater);
    peer.setMode(TlsPeer::Echo);
    peer.setHoldHandshake(true);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(peer.serverPort());
    QVERIFY(server);
    QSignalSpy logs(server.get(), &HttpsServer::log);

    QTcpSocket client;
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    const QByteArray early = tlsPattern(0, 1000);
    client.write(early);
    QTRY_VERIFY(peer.socket());
    QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Connected);
    const QByteArray later = tlsPattern(1000, 300000);
    client.write(later);
    QVERIFY(client.waitForBytesWritten(5000));
    peer.releaseHandshake();

    QCOMPARE(readExactly(&client, early.size() + later.size()), early + later);
    QCOMPARE(peer.received(), early + later);
    if (tls13Only)
        QCOMPARE(peer.socket()->sessionProtocol(), QSsl::TlsV1_3);
    QVERIFY2(logs.isEmpty(), logs.isEmpty() ? "" : qPrintable(logs.first().first().toString()));
}

// The server's last bytes still reach the client, then the remote close is logged and the local
// connection closes.
void TestHttpsTunnel::remoteClose()
{
    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(TlsPeer::Echo);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(peer.serverPort());
    QVERIFY(server);
    QSignalSpy logs(server.get(), &HttpsServer::log);

    QTcpSocket client;
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("hello");
    QCOMPARE(readExactly(&client, 5), QByteArray("hello"));

    const QByteArray last = tlsPattern(0, 200000);
    peer.socket()->write(last);
    peer.socket()->disconnectFromHost();
    QCOMPARE(readExactly(&client, last.size()), last);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Stopped);
    QStringList lines;
    for (const QList<QVariant> &line : qAsConst(logs))
        lines += line.first().toString();
    // The TLS layer reports the peer's close_notify, then the TCP layer the close itself.
    QVERIFY(!lines.isEmpty());
    for (const QString &line : qAsConst(lines))
        QVERIFY2(RemoteClosedTexts.contains(line), qPrintable(line));
    QVERIFY(server->isListening());
}

// The client going away closes the TLS connection after its last bytes; the server keeps listening
// and the next local connection gets a clean tunnel.
void TestHttpsTunnel::localCloseAndRestart()
{
    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(TlsPeer::Echo);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(peer.serverPort());
    QVERIFY(server);

    for (int round = 0; round < 2; ++round) {
        peer.reset();
        QTcpSocket client;
        client.connectToHost(Loopback, server->serverPort());
        QVERIFY(client.waitForConnected(5000));
        const QByteArray bytes = tlsPattern(round, 100000);
        client.write(bytes);
        QCOMPARE(readExactly(&client, bytes.size()), bytes);
        QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Connected);

        client.write("last");
        client.disconnectFromHost();
        QTRY_VERIFY(peer.disconnected());
        QCOMPARE(peer.received(), bytes + "last");
        QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Stopped);
        QVERIFY(server->isListening());
    }
    server->close();
    QVERIFY(!server->isListening());
}

// OpenVPN starting over while its old connection is still carried: the old one ends, the new one
// gets a TLS connection of its own.
void TestHttpsTunnel::secondConnection()
{
    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(TlsPeer::Echo);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(peer.serverPort());
    QVERIFY(server);

    QTcpSocket first;
    first.connectToHost(Loopback, server->serverPort());
    QVERIFY(first.waitForConnected(5000));
    first.write("first");
    QCOMPARE(readExactly(&first, 5), QByteArray("first"));
    QSslSocket *firstPeer = peer.socket();

    QTcpSocket second;
    second.connectToHost(Loopback, server->serverPort());
    QVERIFY(second.waitForConnected(5000));
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    second.write("second");
    QCOMPARE(readExactly(&second, 6), QByteArray("second"));
    QVERIFY(peer.socket() != firstPeer);
    QCOMPARE(server->tunnelState(), HttpsTunnel::Connected);
}

void TestHttpsTunnel::failedConnection()
{
    const auto server = startServer(closedPort());
    QVERIFY(server);
    QSignalSpy logs(server.get(), &HttpsServer::log);

    QTcpSocket client;
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("lost");
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Stopped);
    QCOMPARE(logs.count(), 1);
    QCOMPARE(logs.first().first().toString(), QStringLiteral("Mode https (tunnel) : Connection refused"));
}

void TestHttpsTunnel::closeWithoutTunnel()
{
    const auto server = startServer(closedPort());
    QVERIFY(server);
    QSignalSpy logs(server.get(), &HttpsServer::log);
    server->close();
    QVERIFY(!server->isListening());
    QCOMPARE(server->tunnelState(), HttpsTunnel::Stopped);
    QVERIFY(logs.isEmpty());
}

void TestHttpsTunnel::proxyUserAgent_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("from the settings") << "Agent/2.0 (test; settings)"
                                       << "Default/1.0" << QByteArray("Agent/2.0 (test; settings)");
    QTest::newRow("the default") << QString() << "Default/1.0 (defaults table)"
                                 << QByteArray("Default/1.0 (defaults table)");
}

// The CONNECT request to an HTTP proxy carries the user agent; the stream then flows through it.
void TestHttpsTunnel::proxyUserAgent()
{
    QFETCH(QString, setting);
    QFETCH(QString, defaultValue);
    QFETCH(QByteArray, expected);

    GlobalValues::setValue(GlobalValues::DefaultUserAgent, defaultValue);
    if (setting.isEmpty())
        QSettings().remove(SettingsKeys::UserAgent);
    else
        QSettings().setValue(SettingsKeys::UserAgent, setting);

    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(TlsPeer::Echo);
    QVERIFY(peer.listen(Loopback, 0));
    ConnectProxy proxy;
    QVERIFY(proxy.listen(Loopback, 0));
    const auto server = startServer(
        peer.serverPort(), QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.serverPort()));
    QVERIFY(server);

    QTcpSocket client;
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("through the proxy");
    QCOMPARE(readExactly(&client, 17), QByteArray("through the proxy"));
    QVERIFY(proxy.head().startsWith("CONNECT 127.0.0.1:" + QByteArray::number(peer.serverPort()) + " HTTP/1."));
    QVERIFY2(proxy.head().contains("\r\nUser-Agent: " + expected + "\r\n"), proxy.head().constData());
}

void TestHttpsTunnel::proxyCredentials_data()
{
    QTest::addColumn<bool>("answer");

    QTest::newRow("credentials given when asked") << true;
    QTest::newRow("no credentials") << false;
}

// A real proxy that asks for Basic credentials: they are asked for through the signal; without them the
// proxy's refusal is logged and the local connection closes.
void TestHttpsTunnel::proxyCredentials()
{
    QFETCH(bool, answer);
    if (TinyProxy::program().isEmpty())
        QSKIP("tinyproxy is not installed");
    TinyProxy tinyproxy;
    QVERIFY2(
        tinyproxy.start(QStringLiteral("proxyuser"), QStringLiteral("proxypass")), qPrintable(tinyproxy.errorString()));

    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(TlsPeer::Echo);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(
        peer.serverPort(), QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), tinyproxy.port()));
    QVERIFY(server);
    int asked = 0;
    connect(server.get(), &HttpsServer::proxyAuthenticationRequired, this,
        [&asked, answer](const QNetworkProxy &, QAuthenticator *authenticator) {
            ++asked;
            if (!answer)
                return;
            authenticator->setUser(QStringLiteral("proxyuser"));
            authenticator->setPassword(QStringLiteral("proxypass"));
        });
    QSignalSpy logs(server.get(), &HttpsServer::log);

    QTcpSocket client;
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("through tinyproxy");
    if (answer) {
        QCOMPARE(readExactly(&client, 17), QByteArray("through tinyproxy"));
        QVERIFY(logs.isEmpty());
    } else {
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(server->tunnelState(), HttpsTunnel::Stopped);
        QVERIFY(!logs.isEmpty());
        QVERIFY2(logs.first().first().toString().startsWith(QStringLiteral("Mode https (tunnel) : ")),
            qPrintable(logs.first().first().toString()));
        QVERIFY(peer.received().isEmpty());
    }
    QCOMPARE(asked, 1);
}

void TestHttpsTunnel::boundedMemory_data()
{
    QTest::addColumn<bool>("towardsClient");

    QTest::newRow("server to a slow client") << true;
    QTest::newRow("client to a slow server") << false;
}

// While the receiving end reads nothing, the sending end soon stands still: what is in flight is
// what the system's socket buffers hold plus the tunnel's bound, not the whole stream. Once the
// reader reads, every byte arrives in order.
void TestHttpsTunnel::boundedMemory()
{
    QFETCH(bool, towardsClient);
    constexpr qint64 StreamSize = 48 * 1024 * 1024;
    // Loopback socket buffers grow to a few MiB each; four of them lie on the way.
    constexpr qint64 InFlightBound = 32 * 1024 * 1024;

    TlsPeer peer;
    QVERIFY(peer.setCertificate(QStringLiteral("self-signed")));
    peer.setMode(towardsClient ? TlsPeer::Stream : TlsPeer::Hold);
    peer.setStreamSize(StreamSize);
    QVERIFY(peer.listen(Loopback, 0));
    const auto server = startServer(peer.serverPort());
    QVERIFY(server);

    QTcpSocket client;
    client.setReadBufferSize(64 * 1024);
    StreamWriter writer(&client, StreamSize);
    client.connectToHost(Loopback, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    if (!towardsClient)
        writer.start();
    QSignalSpy progress(towardsClient ? static_cast<QObject *>(&peer) : &writer, SIGNAL(progress()));

    // No progress for a second means the sender stands still.
    while (progress.wait(1000))
        progress.clear();
    const qint64 sent = towardsClient ? peer.sent() : writer.written();
    QVERIFY2(sent < StreamSize, "the whole stream went out although nothing read it");
    QVERIFY2(sent < InFlightBound, qPrintable(QString::number(sent)));

    StreamChecker checker;
    if (towardsClient) {
        checker.attach(&client);
    } else {
        QVERIFY(peer.socket());
        checker.attach(peer.socket());
    }
    QTRY_VERIFY_WITH_TIMEOUT(checker.received() == StreamSize || checker.failed(), 120000);
    QVERIFY(!checker.failed());
}

NIMBORA_TEST_MAIN(TestHttpsTunnel, QCoreApplication)

#include "tst_httpstunnel.moc"
