#include "upnp/upnpevent.h"
#include "upnp/upnpeventserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
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
};

void TestUPnPEventServer::requests_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("requests"); // -1: closed without an answer
    QTest::addColumn<int>("idleTimeout");

    const QByteArray request = notify(Properties);
    const int inCount = request.indexOf("12</Port") + 1;
    QTest::newRow("one write") << QList<QByteArray> { request } << 1 << 30000;
    QTest::newRow("split inside the count")
        << QList<QByteArray> { request.left(inCount), request.mid(inCount) } << 1 << 30000;
    QTest::newRow("split inside the header") << QList<QByteArray> { request.left(30), request.mid(30) } << 1 << 30000;
    QTest::newRow("two in one write") << QList<QByteArray> { request + request } << 2 << 30000;
    QTest::newRow("body over the bound") << QList<QByteArray> { "NOTIFY / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" }
                                         << -1 << 30000;
    QTest::newRow("endless header") << QList<QByteArray> { QByteArray(17 * 1024, 'h') } << -1 << 30000;
    // The idle limit, shortened for this row only: the others must be closed by the bounds.
    QTest::newRow("silent after a part") << QList<QByteArray> { request.left(100) } << -1 << 50;
}

// Each piece reaches the listener in a read of its own.
void TestUPnPEventServer::requests()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, requests);
    QFETCH(int, idleTimeout);

    UPnPEventServer server;
    server.setIdleTimeout(idleTimeout);
    QVERIFY(server.listen(Loopback));
    QSignalSpy changes(&server, &UPnPEventServer::portMappingPropertiesChanged);
    QTcpSocket gateway;
    gateway.connectToHost(Loopback, server.serverPort());
    QVERIFY(gateway.waitForConnected());
    QTRY_VERIFY(server.findChild<UPnPEvent *>());
    QSignalSpy reads(server.findChild<UPnPEvent *>()->findChild<QTcpSocket *>(), &QTcpSocket::readyRead);
    for (const QByteArray &piece : pieces) {
        gateway.write(piece);
        QVERIFY(reads.wait());
    }
    if (requests < 0) {
        QTRY_COMPARE(gateway.state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!server.findChild<UPnPEvent *>());
    }
    QTRY_COMPARE(gateway.bytesAvailable(), qint64(qMax(requests, 0) * Answer.size()));
    QCOMPARE(gateway.readAll(), Answer.repeated(qMax(requests, 0)));
    QCOMPARE(changes.count(), qMax(requests, 0));
    for (const QList<QVariant> &change : qAsConst(changes))
        QCOMPARE(change, (QList<QVariant> { QStringLiteral("203.0.113.7"), QVariant::fromValue(quint16(12)) }));
}

NIMBORA_TEST_MAIN(TestUPnPEventServer, QCoreApplication)

#include "tst_upnpeventserver.moc"
