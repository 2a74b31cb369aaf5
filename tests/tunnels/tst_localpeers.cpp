#include "tunnels/httpserver.h"
#include "tunnels/httpsserver.h"
#include "tunnels/socksserver.h"

#include "tests/support/foreignclient.h"
#include "tests/support/testmain.h"
#include "tests/support/threadnames.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

enum Kind { Https, Http, Socks };

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

// Where the listeners' outgoing connections arrive: a connection here means the client was served.
class Remote : public QTcpServer
{
public:
    Remote()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                socket->setParent(this);
                ++connections;
            }
        });
        listen(Loopback, 0);
    }

    int connections = 0;
};

QByteArray socksConnectRequest(quint16 port)
{
    return QByteArray::fromHex("050100050100017f000001") + char(port >> 8) + char(port & 0xff);
}

} // namespace

class TestLocalPeers : public QObject
{
    Q_OBJECT

private slots:
    void otherUsersPrograms_data();
    void otherUsersPrograms();
};

void TestLocalPeers::otherUsersPrograms_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("otherUserAccepted");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("HTTPS listener") << int(Https) << false
                                    << QStringLiteral("Mode https (client) : Connection from another program refused");
    QTest::newRow("HTTP listener") << int(Http) << false
                                   << QStringLiteral("Mode http (client) : Connection from another program refused");
    QTest::newRow("SOCKS server") << int(Socks) << false
                                  << QStringLiteral("SOCKS error: connection from another program refused");
    // As OpenVPN run by another user than the program's.
    QTest::newRow("HTTPS listener for the other user's program")
        << int(Https) << true << QStringLiteral("Mode https (client) : Connection from another program refused");
}

// A listener on 127.0.0.1 serves only the programs it is meant for: another local user's connection
// is closed before anything is read from it or sent on its behalf, and the listener goes on serving.
void TestLocalPeers::otherUsersPrograms()
{
    QFETCH(int, kind);
    QFETCH(bool, otherUserAccepted);
    QFETCH(QString, refusal);

    QString reason;
    if (!ForeignClient::available(&reason))
        QSKIP(qPrintable(reason));
    Remote remote;
    std::unique_ptr<QTcpServer> listener;
    std::unique_ptr<QSignalSpy> logs;
    QByteArray request = QByteArrayLiteral("first bytes of the stream");
    if (kind == Socks) {
        auto *socks = new SocksServer;
        socks->setAddress(Loopback);
        listener.reset(socks);
        logs.reset(new QSignalSpy(socks, &SocksServer::log));
        request = socksConnectRequest(remote.serverPort());
    } else {
        TunnelServer *tunnel = kind == Https ? static_cast<TunnelServer *>(new HttpsServer) : new HttpServer;
        tunnel->setHost(Loopback.toString());
        tunnel->setPort(remote.serverPort());
        tunnel->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        if (otherUserAccepted)
            tunnel->setAcceptedPeer(ForeignClient::UserId, -1);
        listener.reset(tunnel);
        logs.reset(new QSignalSpy(tunnel, &TunnelServer::log));
    }
    QVERIFY(listener->listen(Loopback, 0));

    std::unique_ptr<ForeignClient> foreign(new ForeignClient);
    QTcpSocket own;
    if (otherUserAccepted) {
        own.connectToHost(Loopback, listener->serverPort());
        own.write(request);
        QTRY_COMPARE(own.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(remote.connections, 0);
        QVERIFY2(foreign->start(Loopback, listener->serverPort(), request, &reason), qPrintable(reason));
    } else {
        QVERIFY2(foreign->start(Loopback, listener->serverPort(), request, &reason), qPrintable(reason));
        QCOMPARE(foreign->waitForOutcome(10000), ForeignClient::Closed);
        QCOMPARE(remote.connections, 0);
        own.connectToHost(Loopback, listener->serverPort());
        own.write(request);
    }
    QTRY_COMPARE(remote.connections, 1);
    QCOMPARE(logs->count(), 1);
    QCOMPARE(logs->first().first().toString(), refusal);

    // Both ends go first: a tunnel stopping waits a while for their close.
    foreign.reset();
    own.abort();
    qDeleteAll(remote.findChildren<QTcpSocket *>());

    if (kind == Socks) {
        static_cast<SocksServer *>(listener.get())->close();
        QTRY_VERIFY_WITH_TIMEOUT(threadsNamed("SocksTunnel") == 0, 40000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } else {
        static_cast<TunnelServer *>(listener.get())->close();
    }
}

NIMBORA_TEST_MAIN(TestLocalPeers, QCoreApplication)
#include "tst_localpeers.moc"
