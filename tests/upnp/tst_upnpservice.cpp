#include "upnp/ssdpserver.h"
#include "upnp/upnpeventserver.h"
#include "upnp/upnpservice.h"

#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

using Entries = QList<QHash<QString, QVariant>>;

namespace {

// Before main(): port 1900 and the gateway's address live in the test's own namespace.
const bool privateNetwork = PrivateNetwork::enter();

// The adapter is the namespace's loopback, whose first IPv4 address is 127.0.0.1; the gateway and
// another host of the VPN are later addresses of the same interface.
const QHostAddress LocalAddress(QStringLiteral("127.0.0.1"));
const QHostAddress GatewayAddress(QStringLiteral("198.18.0.1"));
const QHostAddress OtherHostAddress(QStringLiteral("198.18.0.2"));

const QByteArray Search("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n"
                        "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n");
const QByteArray Description(
    "<?xml version=\"1.0\"?><root><device><serviceList><service><serviceType>"
    "urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><controlURL>/ctl/IPConn"
    "</controlURL><eventSubURL>/evt/IPConn</eventSubURL></service></serviceList></device></root>");
const QByteArray Envelope(
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/"
    "envelope/\" SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body>");
const QByteArray Fault("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");

QByteArray response(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

QByteArray entryResponse(int externalPort)
{
    return response("<u:GetGenericPortMappingEntryResponse><NewExternalPort>" + QByteArray::number(externalPort)
        + "</NewExternalPort><NewProtocol>TCP</NewProtocol></u:GetGenericPortMappingEntryResponse>");
}

QByteArray entryRequest(int index)
{
    return Envelope
        + "<m:GetGenericPortMappingEntry xmlns:m=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
          "<NewPortMappingIndex xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">"
        + QByteArray::number(index)
        + "</NewPortMappingIndex></m:GetGenericPortMappingEntry></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

QByteArray notify(const QList<int> &counts)
{
    QByteArray requests;
    for (int count : counts) {
        const QByteArray body = "<e:propertyset><e:property><ExternalIPAddress>203.0.113.7</ExternalIPAddress>"
                                "</e:property><e:property><PortMappingNumberOfEntries>"
            + QByteArray::number(count) + "</PortMappingNumberOfEntries></e:property></e:propertyset>";
        requests += "NOTIFY /upnp/eventing/nimbora HTTP/1.1\r\nCONTENT-LENGTH: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    }
    return requests;
}

// The gateway: answers searches with its LOCATION and HTTP requests with scripted answers, and keeps
// every datagram and request it gets.
class Gateway : public QObject
{
public:
    struct Request
    {
        QByteArray header;
        QByteArray body;
    };

    Gateway()
    {
        // On Linux the relay listens on every address at port 1900: the two share the port.
        m_udp.bind(GatewayAddress, 1900, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        m_http.listen(GatewayAddress, 5000);
        connect(&m_udp, &QUdpSocket::readyRead, this, &Gateway::readDatagrams);
        connect(&m_http, &QTcpServer::newConnection, this, &Gateway::accept);
    }

    bool answersSearches = true;
    QList<QByteArray> datagrams;
    QList<Request> requests;
    QList<QByteArray> subscribeAnswers;
    QList<QByteArray> soapAnswers;

    QList<Request> requestsOf(const QByteArray &method) const
    {
        QList<Request> found;
        for (const Request &request : requests) {
            if (request.header.startsWith(method + ' '))
                found.append(request);
        }
        return found;
    }

private:
    void readDatagrams()
    {
        while (m_udp.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_udp.receiveDatagram();
            datagrams.append(datagram.data());
            if (answersSearches && datagram.data().startsWith("M-SEARCH"))
                m_udp.writeDatagram(
                    datagram.makeReply("HTTP/1.1 200 OK\r\nLOCATION: http://198.18.0.1:5000/desc.xml\r\n"
                                       "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n"));
        }
    }

    void accept()
    {
        while (QTcpSocket *socket = m_http.nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    }

    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const int headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QByteArray header = buffer.left(headerEnd + 4);
            const int lengthStart = header.toLower().indexOf("content-length:");
            const int bodySize = lengthStart < 0
                ? 0
                : header.mid(lengthStart + 15, header.indexOf('\r', lengthStart) - lengthStart - 15).trimmed().toInt();
            if (buffer.size() < header.size() + bodySize)
                return;
            requests.append({ header, buffer.mid(header.size(), bodySize) });
            buffer.remove(0, header.size() + bodySize);
            if (header.startsWith("GET "))
                socket->write(response(Description));
            else if (header.startsWith("SUBSCRIBE "))
                socket->write(subscribeAnswers.isEmpty() ? QByteArray() : subscribeAnswers.takeFirst());
            else
                socket->write(soapAnswers.isEmpty() ? Fault : soapAnswers.takeFirst());
        }
    }

    QUdpSocket m_udp;
    QTcpServer m_http;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// Records the waits instead of running them: the test plays the timer.
class Service : public UPnPService
{
public:
    QList<int> intervals;

    void timeout() { QMetaObject::invokeMethod(this, "subscribe"); }
    quint16 eventPort() const { return findChild<UPnPEventServer *>()->serverPort(); }

protected:
    void startServiceTimer(int msec) override { intervals.append(msec); }
};

NetworkAdapter loopbackAdapter()
{
    return NetworkAdapter(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
}

} // namespace

class TestUPnPService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void relay_data();
    void relay();
    void discoverySeries();
    void subscription_data();
    void subscription();
    void control_data();
    void control();
    void enumeration_data();
    void enumeration();

private:
    bool subscribe(const QByteArray &answer);

    Gateway *m_gateway = nullptr;
    Service *m_service = nullptr;
};

void TestUPnPService::initTestCase()
{
    if (!privateNetwork)
        QSKIP("needs root: port 1900 and the gateway's address, in a network namespace of the test's own");
    qRegisterMetaType<QNetworkReply *>();
    QString error;
    QVERIFY2(PrivateNetwork::addAddress(GatewayAddress.toString(), &error), qPrintable(error));
    QVERIFY2(PrivateNetwork::addAddress(OtherHostAddress.toString(), &error), qPrintable(error));
    QCOMPARE(SSDPServer::adapterAddress(loopbackAdapter()), LocalAddress);
}

void TestUPnPService::init()
{
    m_gateway = new Gateway;
    m_service = new Service;
    m_service->setInterface(loopbackAdapter());
    m_service->setGatewayAddress(GatewayAddress);
}

void TestUPnPService::cleanup()
{
    delete m_service;
    delete m_gateway;
}

// Starts the service and lets the gateway answer its subscription.
bool TestUPnPService::subscribe(const QByteArray &answer)
{
    m_gateway->subscribeAnswers = { answer };
    m_service->start();
    return QTest::qWaitFor([this] { return m_gateway->subscribeAnswers.isEmpty() && m_service->intervals.size() > 2; });
}

void TestUPnPService::relay_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("relayed");

    const QByteArray search(
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\nST: ssdp:all\r\n\r\n");
    QTest::newRow("local application") << LocalAddress.toString() << search << true;
    QTest::newRow("another host") << OtherHostAddress.toString() << search << false;
    QTest::newRow("not a search") << LocalAddress.toString()
                                  << QByteArray("NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\n\r\n") << false;
}

// A datagram that is not relayed shows by the next local search arriving first.
void TestUPnPService::relay()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, relayed);

    SSDPServer relay;
    relay.setInterface(loopbackAdapter());
    relay.setGatewayAddress(GatewayAddress);
    QVERIFY(relay.bind());
    QUdpSocket application;
    QVERIFY(application.bind(QHostAddress(sender), 0));
    application.writeDatagram(datagram, LocalAddress, 1900);
    QUdpSocket nextApplication;
    QVERIFY(nextApplication.bind(LocalAddress, 0));
    nextApplication.writeDatagram("M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n", LocalAddress, 1900);

    QTRY_VERIFY(!m_gateway->datagrams.isEmpty());
    const QByteArray port = QByteArray::number(relayed ? application.localPort() : nextApplication.localPort());
    QCOMPARE(m_gateway->datagrams.first(),
        relayed ? QByteArray("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n"
                             "ST: ssdp:all\r\nPORT: "
            + port + "\r\n\r\n")
                : "M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\nPORT: " + port + "\r\n\r\n");
}

// Three searches 3 s apart, a pause of 60 s, then a new series.
void TestUPnPService::discoverySeries()
{
    m_gateway->answersSearches = false;
    m_service->start();
    QTRY_COMPARE(m_gateway->datagrams.size(), 1);
    QCOMPARE(m_gateway->datagrams.first(), Search);
    for (int search = 2; search <= 3; ++search) {
        m_service->timeout();
        QTRY_COMPARE(m_gateway->datagrams.size(), search);
    }
    m_service->timeout();
    m_service->timeout();
    QTRY_COMPARE(m_gateway->datagrams.size(), 4);
    QCOMPARE(m_service->intervals, (QList<int> { 3000, 3000, 3000, 60000, 3000 }));
    QCOMPARE(m_gateway->datagrams, (QList<QByteArray> { Search, Search, Search, Search }));
}

void TestUPnPService::subscription_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("wait");
    QTest::addColumn<QByteArray>("sid");

    QTest::newRow("granted 300 s") << QByteArray("HTTP/1.1 200 OK\r\nSID: uuid:7-1\r\nTIMEOUT: Second-300\r\n\r\n")
                                   << 290000 << QByteArray("uuid:7-1");
    QTest::newRow("granted 3600 s, lower case")
        << QByteArray("HTTP/1.1 200 OK\r\nsid: uuid:7-2\r\ntimeout: Second-3600\r\n\r\n") << 3590000
        << QByteArray("uuid:7-2");
    QTest::newRow("no time") << QByteArray("HTTP/1.1 200 OK\r\nSID: uuid:7-3\r\n\r\n") << 1790000
                             << QByteArray("uuid:7-3");
    QTest::newRow("time not a number") << QByteArray("HTTP/1.1 200 OK\r\nSID: uuid:7-4\r\nTIMEOUT: Second-soon\r\n\r\n")
                                       << 1790000 << QByteArray("uuid:7-4");
    QTest::newRow("refused") << QByteArray("HTTP/1.1 412 Precondition Failed\r\n\r\n") << 10000 << QByteArray();
}

// After the description, one SUBSCRIBE with the callback; the timer then brings a renewal with the SID,
// or after a refusal a new search.
void TestUPnPService::subscription()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, wait);
    QFETCH(QByteArray, sid);

    QVERIFY(subscribe(answer));
    QCOMPARE(m_gateway->datagrams, QList<QByteArray> { Search });
    QCOMPARE(m_gateway->requestsOf("GET").size(), 1);
    QCOMPARE(m_gateway->requestsOf("GET").first().header.left(22), QByteArray("GET /desc.xml HTTP/1.1"));
    QCOMPARE(m_gateway->requestsOf("SUBSCRIBE").first().header,
        "SUBSCRIBE /evt/IPConn HTTP/1.1\r\nHOST: 198.18.0.1:5000\r\nCALLBACK: <http://127.0.0.1:"
            + QByteArray::number(m_service->eventPort())
            + "/upnp/eventing/nimbora>\r\nNT: upnp:event\r\nTIMEOUT: Second-1800\r\n\r\n");
    QCOMPARE(m_service->intervals.last(), wait);

    m_service->timeout();
    if (sid.isEmpty()) {
        QTRY_COMPARE(m_gateway->datagrams.size(), 2);
        return;
    }
    QTRY_COMPARE(m_gateway->requestsOf("SUBSCRIBE").size(), 2);
    QCOMPARE(m_gateway->requestsOf("SUBSCRIBE").last().header,
        "SUBSCRIBE /evt/IPConn HTTP/1.1\r\nHOST: 198.18.0.1:5000\r\nSID: " + sid + "\r\nTIMEOUT: Second-1800\r\n\r\n");
}

void TestUPnPService::control_data()
{
    QTest::addColumn<bool>("add");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("log");

    const QByteArray add = Envelope
        + "<m:AddPortMapping xmlns:m=\"urn:schemas-upnp-org:service:WANIPConnection:1\"><NewRemoteHost "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\"></NewRemoteHost><NewExternalPort "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">8080</NewExternalPort><NewProtocol "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\">TCP</NewProtocol><NewInternalPort "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">80</NewInternalPort><NewInternalClient "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\">127.0.0.1</NewInternalClient><NewEnabled "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"boolean\">1</NewEnabled><NewPortMappingDescription "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\">a&lt;b&gt; &amp; "
          "c</NewPortMappingDescription><NewLeaseDuration xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
          "dt:dt=\"ui4\">0</NewLeaseDuration></m:AddPortMapping></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const QByteArray remove = Envelope
        + "<m:DeletePortMapping xmlns:m=\"urn:schemas-upnp-org:service:WANIPConnection:1\"><NewRemoteHost "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\"></NewRemoteHost><NewExternalPort "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">8080</NewExternalPort><NewProtocol "
          "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
          "dt:dt=\"string\">TCP</NewProtocol></m:DeletePortMapping></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const QByteArray addAction("\"urn:schemas-upnp-org:service:WANIPConnection:1#AddPortMapping\"");
    const QByteArray deleteAction("\"urn:schemas-upnp-org:service:WANIPConnection:1#DeletePortMapping\"");
    QTest::newRow("add") << true << response("<u:AddPortMappingResponse/>") << addAction << add << QString();
    QTest::newRow("add refused") << true << Fault << addAction << add << "UPnP Service : Error while adding UPnP port";
    QTest::newRow("delete") << false << response("<u:DeletePortMappingResponse/>") << deleteAction << remove
                            << QString();
    QTest::newRow("delete refused") << false << Fault << deleteAction << remove
                                    << "UPnP Service : Error while deleting UPnP port";
}

void TestUPnPService::control()
{
    QFETCH(bool, add);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, action);
    QFETCH(QByteArray, body);
    QFETCH(QString, log);

    QVERIFY(subscribe("HTTP/1.1 200 OK\r\nSID: uuid:7\r\nTIMEOUT: Second-1800\r\n\r\n"));
    QSignalSpy logs(m_service, &UPnPService::log);
    QSignalSpy errors(m_service, &UPnPService::error);
    // The service hears of every reply before this spy does.
    QSignalSpy replies(m_service->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
    m_gateway->soapAnswers = { answer };
    if (add)
        m_service->addPortMapping(8080, QStringLiteral("TCP"), 80, QStringLiteral("a<b> & c"));
    else
        m_service->deletePortMapping(8080, QStringLiteral("TCP"));
    QVERIFY(replies.wait());

    const Gateway::Request request = m_gateway->requestsOf("POST").first();
    QCOMPARE(request.body, body);
    QVERIFY(request.header.startsWith("POST /ctl/IPConn HTTP/1.1\r\n"));
    QVERIFY(request.header.contains("\r\nSOAPAction: " + action + "\r\n"));
    QVERIFY(request.header.contains("\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"));
    QCOMPARE(logs.count(), log.isEmpty() ? 0 : 1);
    QCOMPARE(errors.count(), log.isEmpty() ? 0 : 1);
    if (!log.isEmpty()) {
        QCOMPARE(logs.first().first().toString(), log);
        QCOMPARE(errors.first().first().value<UPnPService::Error>(),
            add ? UPnPService::AddPortMappingError : UPnPService::DeletePortMappingError);
    }
}

void TestUPnPService::enumeration_data()
{
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QList<int>>("requestedIndexes");
    QTest::addColumn<QList<QList<int>>>("lists");

    QTest::newRow("no entries") << QList<int> { 0 } << QList<QByteArray>() << QList<int>() << QList<QList<int>> { {} };
    QTest::newRow("event during an enumeration")
        << QList<int> { 2, 1 } << QList<QByteArray> { entryResponse(1001), entryResponse(1002), entryResponse(1003) }
        << QList<int> { 0, 1, 0 } << QList<QList<int>> { { 1001, 1002 }, { 1003 } };
    QTest::newRow("fault before the count") << QList<int> { 3 } << QList<QByteArray> { entryResponse(1001), Fault }
                                            << QList<int> { 0, 1 } << QList<QList<int>> { { 1001 } };
}

// Events come in one write, so that the later ones arrive while the first enumeration runs.
void TestUPnPService::enumeration()
{
    QFETCH(QList<int>, counts);
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QList<int>, requestedIndexes);
    QFETCH(QList<QList<int>>, lists);

    QVERIFY(subscribe("HTTP/1.1 200 OK\r\nSID: uuid:7\r\nTIMEOUT: Second-1800\r\n\r\n"));
    QSignalSpy changes(m_service, &UPnPService::portMappingChanged);
    m_gateway->soapAnswers = answers;
    QTcpSocket events;
    events.connectToHost(LocalAddress, m_service->eventPort());
    events.write(notify(counts));
    QTRY_COMPARE(changes.size(), lists.size());

    QList<QByteArray> requests;
    for (const Gateway::Request &request : m_gateway->requestsOf("POST"))
        requests.append(request.body);
    QList<QByteArray> expectedRequests;
    for (int index : requestedIndexes)
        expectedRequests.append(entryRequest(index));
    QCOMPARE(requests, expectedRequests);
    for (int list = 0; list < lists.size(); ++list) {
        const Entries entries = changes.at(list).first().value<Entries>();
        QList<int> ports;
        for (const QHash<QString, QVariant> &entry : entries) {
            ports.append(entry.value(QStringLiteral("externalPort")).toInt());
            QCOMPARE(entry.value(QStringLiteral("externalIpAddress")).toString(), QStringLiteral("203.0.113.7"));
        }
        QCOMPARE(ports, lists.at(list));
    }
}

NIMBORA_TEST_MAIN(TestUPnPService, QCoreApplication)

#include "tst_upnpservice.moc"
