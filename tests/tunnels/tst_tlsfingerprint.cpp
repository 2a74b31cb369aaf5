#include "tests/support/testmain.h"
#include "tests/support/tinyproxy.h"
#include "tests/tunnels/clienthello.h"
#include "tunnels/httpsserver.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QString ProxyUser = QStringLiteral("proxyuser");
const QString ProxyPassword = QStringLiteral("proxypass");

// A TLS server that only reads the hello of whoever connects, then hangs up.
class HelloCapture : public QTcpServer
{
public:
    HelloCapture() { listen(Loopback, 0); }

    ClientHello hello;
    bool captured = false;
    bool malformed = false;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        auto stream = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, stream] {
            *stream += socket->readAll();
            if (captured || malformed)
                return;
            if (hello.parse(*stream, &malformed) || malformed || stream->size() > 64 * 1024) {
                captured = !malformed;
                socket->abort();
                socket->deleteLater();
            }
        });
    }
};

} // namespace

// The HTTPS transport's hello must not stand out: the machine's curl, which uses the same TLS library,
// and the transport, towards the same listener, must send hellos of the same fingerprints.
class TestTlsFingerprint : public QObject
{
    Q_OBJECT

private slots:
    void sameAsCurl_data();
    void sameAsCurl();

private:
    // Each towards a capture listener of its own, on port proxyPort of 127.0.0.1 unless it is 0.
    ClientHello curlHello(const QString &host, quint16 proxyPort);
    ClientHello tunnelHello(const QString &host, quint16 proxyPort);
};

void TestTlsFingerprint::sameAsCurl_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("throughProxy");
    QTest::newRow("by address") << Loopback.toString() << false;
    QTest::newRow("by host name") << QStringLiteral("localhost") << false;
    QTest::newRow("by address, through tinyproxy") << Loopback.toString() << true;
    QTest::newRow("by host name, through tinyproxy") << QStringLiteral("localhost") << true;
}

void TestTlsFingerprint::sameAsCurl()
{
    QFETCH(QString, host);
    QFETCH(bool, throughProxy);
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        QSKIP("curl is not installed");
    TinyProxy tinyproxy;
    if (throughProxy) {
        if (TinyProxy::program().isEmpty())
            QSKIP("tinyproxy is not installed");
        QVERIFY2(tinyproxy.start(ProxyUser, ProxyPassword), qPrintable(tinyproxy.errorString()));
    }
    const quint16 proxyPort = throughProxy ? tinyproxy.port() : 0;

    const ClientHello curl = curlHello(host, proxyPort);
    if (QTest::currentTestFailed())
        return;
    const ClientHello ours = tunnelHello(host, proxyPort);
    if (QTest::currentTestFailed())
        return;
    qInfo("JA3 %s  JA4 %s", qPrintable(ours.ja3()), qPrintable(ours.ja4()));
    QCOMPARE(ours.describe(), curl.describe());
    QCOMPARE(ours.ja3Text(), curl.ja3Text());
    QCOMPARE(ours.ja3(), curl.ja3());
    QCOMPARE(ours.ja4(), curl.ja4());
    // A host name is named in the hello, an address never.
    QCOMPARE(ours.serverName, host == Loopback.toString() ? QString() : host);
    QCOMPARE(ours.alpn, QStringList({ "h2", "http/1.1" }));
}

// A host name is given its address with --resolve: nothing is looked up but through the proxy, which finds
// localhost in the hosts file.
ClientHello TestTlsFingerprint::curlHello(const QString &host, quint16 proxyPort)
{
    HelloCapture capture;
    const QString port = QString::number(capture.serverPort());
    QStringList arguments = { QStringLiteral("-q"), QStringLiteral("--silent"), QStringLiteral("--insecure"),
        QStringLiteral("--max-time"), QStringLiteral("20") };
    if (proxyPort != 0) {
        arguments << QStringLiteral("--proxy") << QStringLiteral("http://127.0.0.1:%1").arg(proxyPort)
                  << QStringLiteral("--proxy-user") << ProxyUser + QLatin1Char(':') + ProxyPassword;
    } else {
        arguments << QStringLiteral("--noproxy") << QStringLiteral("*");
        if (host != Loopback.toString())
            arguments << QStringLiteral("--resolve") << host + QLatin1Char(':') + port + QStringLiteral(":127.0.0.1");
    }
    arguments << QStringLiteral("https://%1:%2/").arg(host, port);

    QProcess curl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY", "no_proxy" })
        environment.remove(name);
    curl.setProcessEnvironment(environment);
    curl.start(QStringLiteral("curl"), arguments);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(capture.captured || capture.malformed, 20000); }();
    curl.waitForFinished(20000);
    if (!QTest::currentTestFailed() && capture.malformed)
        QTest::qFail("curl's hello could not be read", __FILE__, __LINE__);
    return capture.hello;
}

ClientHello TestTlsFingerprint::tunnelHello(const QString &host, quint16 proxyPort)
{
    HelloCapture capture;
    HttpsServer server;
    QSignalSpy logs(&server, &HttpsServer::log);
    server.setHost(host);
    server.setPort(capture.serverPort());
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    if (proxyPort != 0)
        proxy = QNetworkProxy(QNetworkProxy::HttpProxy, Loopback.toString(), proxyPort, ProxyUser, ProxyPassword);
    server.setProxy(proxy);
    [&] {
        QVERIFY(server.listen(Loopback, 0));
        QTcpSocket client;
        client.connectToHost(Loopback, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY_WITH_TIMEOUT(capture.captured || capture.malformed, 20000);
        QVERIFY2(!capture.malformed, "the tunnel's hello could not be read");
    }();
    server.close();
    return capture.hello;
}

NIMBORA_TEST_MAIN(TestTlsFingerprint, QCoreApplication)

#include "tst_tlsfingerprint.moc"
