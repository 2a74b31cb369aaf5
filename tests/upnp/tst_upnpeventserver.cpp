#include "upnp/upnpevent.h"
#include "upnp/upnpeventserver.h"
#include "upnp/upnpmessages.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const QByteArray Answer("HTTP/1.1 200 OK\r\n\r\n");

QByteArray notify(const QByteArray &body)
{
    return "NOTIFY /upnp/eventing/nimbora HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: "
        + QByteArray::number(body.size())
        + "\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\nSID: uuid:7\r\nSEQ: 0\r\n\r\n" + body;
}

const QByteArray Properties("<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><ExternalIPAddress>"
                            "203.0.113.7</ExternalIPAddress></e:property><e:property><PortMappingNumberOfEntries>12"
                            "</PortMappingNumberOfEntries></e:property></e:propertyset>");

} // namespace

class TestUPnPEventServer : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void connectionFlood();
};

void TestUPnPEventServer::requests_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("pause"); // between pieces, in ms
    QTest::addColumn<int>("timeLimit");
    QTest::addColumn<int>("notifications");
    QTest::addColumn<bool>("closed"); // by the listener, answers to the requests before notwithstanding

    const QByteArray request = notify(Properties);
    const int inCount = request.indexOf("12</Port") + 1;
    QTest::newRow("one write") << QList<QByteArray> { request } << 0 << 30000 << 1 << false;
    QTest::newRow("split inside the count")
        << QList<QByteArray> { request.left(inCount), request.mid(inCount) } << 0 << 30000 << 1 << false;
    QTest::newRow("split inside the header")
        << QList<QByteArray> { request.left(30), request.mid(30) } << 0 << 30000 << 1 << false;
    QTest::newRow("two in one write") << QList<QByteArray> { request + request } << 0 << 30000 << 2 << false;
    QTest::newRow("more requests than a connection may carry")
        << QList<QByteArray> { request.repeated(17) } << 0 << 30000 << 16 << true;
    QTest::newRow("body over the bound") << QList<QByteArray> { "NOTIFY / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" }
                                         << 0 << 30000 << 0 << true;
    QTest::newRow("endless header") << QList<QByteArray> { QByteArray(17 * 1024, 'h') } << 0 << 30000 << 0 << true;
    // The time limit, shortened for these rows only: the others must be closed by the bounds.
    QTest::newRow("silent after a part") << QList<QByteArray> { request.left(100) } << 0 << 50 << 0 << true;
    QList<QByteArray> trickle;
    for (int start = 0; start < request.size(); start += 20)
        trickle.append(request.mid(start, 20));
    QTest::newRow("a part now and then") << trickle << 30 << 300 << 0 << true;
}

// Each piece reaches the listener in a read of its own.
void TestUPnPEventServer::requests()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, pause);
    QFETCH(int, timeLimit);
    QFETCH(int, notifications);
    QFETCH(bool, closed);

    UPnPEventServer server;
    server.setTimeLimit(timeLimit);
    QVERIFY(server.listen(Loopback));
    QSignalSpy changes(&server, &UPnPEventServer::portMappingPropertiesChanged);
    QSignalSpy logs(&server, &UPnPEventServer::log);
    QTcpSocket gateway;
    gateway.connectToHost(Loopback, server.serverPort());
    QVERIFY(gateway.waitForConnected());
    QTRY_VERIFY(server.findChild<UPnPEvent *>());
    const QPointer<QTcpSocket> listener = server.findChild<UPnPEvent *>()->findChild<QTcpSocket *>();
    QSignalSpy reads(listener.data(), &QTcpSocket::readyRead);
    for (const QByteArray &piece : pieces) {
        // The peer's own pace, which the listener must not follow for ever.
        if (pause > 0)
            QTest::qWait(pause);
        if (!listener || listener->state() != QAbstractSocket::ConnectedState)
            break;
        const int readsBefore = reads.size();
        gateway.write(piece);
        QTRY_VERIFY(reads.size() > readsBefore || !listener || listener->state() != QAbstractSocket::ConnectedState);
    }
    if (closed) {
        QTRY_COMPARE(gateway.state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!server.findChild<UPnPEvent *>());
        QCOMPARE(logs.size(), 1);
    } else {
        QTRY_COMPARE(gateway.bytesAvailable(), qint64(notifications * Answer.size()));
        QCOMPARE(gateway.readAll(), Answer.repeated(notifications));
        QVERIFY(logs.isEmpty());
    }
    QCOMPARE(changes.count(), notifications);
    for (const QList<QVariant> &change : qAsConst(changes)) {
        QCOMPARE(change,
            (QList<QVariant> {
                QStringLiteral("uuid:7"), QStringLiteral("203.0.113.7"), QVariant::fromValue(quint16(12)) }));
    }
}

// Connections past the bound are closed at once; once one ends, the next is served.
void TestUPnPEventServer::connectionFlood()
{
    UPnPEventServer server;
    QVERIFY(server.listen(Loopback));
    QSignalSpy logs(&server, &UPnPEventServer::log);
    QList<QTcpSocket *> open;
    for (int i = 0; i < UPnPMessages::MaxEventConnections; ++i) {
        open.append(new QTcpSocket(&server));
        open.last()->connectToHost(Loopback, server.serverPort());
        QTRY_COMPARE(server.findChildren<UPnPEvent *>().size(), i + 1);
    }
    QTcpSocket refused;
    refused.connectToHost(Loopback, server.serverPort());
    QTRY_COMPARE(refused.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(logs, (QList<QList<QVariant>> { { "UPnP Service : event connection refused: too many open at once" } }));

    delete open.takeFirst();
    QTRY_COMPARE(server.findChildren<UPnPEvent *>().size(), UPnPMessages::MaxEventConnections - 1);
    QTcpSocket next;
    next.connectToHost(Loopback, server.serverPort());
    next.write(notify(Properties));
    QTRY_COMPARE(next.bytesAvailable(), qint64(Answer.size()));
}

NIMBORA_TEST_MAIN(TestUPnPEventServer, QCoreApplication)

#include "tst_upnpeventserver.moc"
