#include "upnp/upnpmessages.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

using Entry = QHash<QString, QVariant>;

namespace {

const QByteArray Services("<serviceList><service><serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1"
                          "</serviceType><controlURL>/l3f</controlURL><eventSubURL>/l3fevt</eventSubURL></service>");

Entry entry(int externalPort, const QString &protocol, int internalPort, const QString &client,
    const QString &description, const QString &duration)
{
    return Entry { { "externalIpAddress", "203.0.113.7" }, { "externalPort", externalPort }, { "protocol", protocol },
        { "internalPort", internalPort }, { "internalClient", client }, { "description", description },
        { "duration", duration } };
}

} // namespace

class TestUPnPMessages : public QObject
{
    Q_OBJECT

private slots:
    void location_data();
    void location();
    void description_data();
    void description();
    void mappingEntry_data();
    void mappingEntry();
    void subscriptionReply_data();
    void subscriptionReply();
    void eventRequestLength_data();
    void eventRequestLength();
    void eventProperties_data();
    void eventProperties();
};

void TestUPnPMessages::location_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host, port and path") << QByteArray(
        "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nLOCATION: http://198.18.0.1:5000/rootDesc.xml\r\nST: "
        "upnp:rootdevice\r\n\r\n") << true
                                         << "http://198.18.0.1:5000/rootDesc.xml"
                                         << "198.18.0.1" << 5000;
    QTest::newRow("no port") << QByteArray("HTTP/1.1 200 OK\r\nLOCATION: http://198.18.0.1/desc.xml\r\n\r\n") << true
                             << "http://198.18.0.1/desc.xml"
                             << "198.18.0.1" << 80;
    QTest::newRow("header in another case")
        << QByteArray("HTTP/1.1 200 OK\r\nLocation:http://gw:49152\r\n\r\n") << true << "http://gw:49152"
        << "gw" << 49152;
    QTest::newRow("broken port") << QByteArray("HTTP/1.1 200 OK\r\nLOCATION: http://gw:99999/d\r\n\r\n") << true
                                 << "http://gw:99999/d"
                                 << "gw" << 0;
    QTest::newRow("name inside another header")
        << QByteArray("HTTP/1.1 200 OK\r\nX-LOCATION: http://gw/d\r\n\r\n") << false << ""
        << "" << 0;
    QTest::newRow("after a NUL") << QByteArray("HTTP/1.1 200 OK\r\n") + '\0' + "LOCATION: http://gw/d\r\n\r\n"
                                 << false << ""
                                 << "" << 0;
}

void TestUPnPMessages::location()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, found);
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(int, port);
    UPnPMessages::Location location;
    QCOMPARE(UPnPMessages::parseLocation(datagram, &location), found);
    QCOMPARE(location.url, url);
    QCOMPARE(location.host, host);
    QCOMPARE(int(location.port), port);
}

void TestUPnPMessages::description_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<bool>("found");

    QTest::newRow("control first") << Services
            + "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><controlURL>/ctl/"
              "IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL></service></serviceList>"
                                   << true;
    QTest::newRow("event first") << Services
            + "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><eventSubURL> "
              "/evt/IPConn </eventSubURL><controlURL>/ctl/IPConn</controlURL></service></serviceList>"
                                 << true;
    QTest::newRow("type after the paths") << Services
            + "<service><controlURL>/ctl/IPConn</controlURL><eventSubURL>/evt/IPConn</"
              "eventSubURL><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType></service>"
                                          << true;
    QTest::newRow("without the service") << Services
            + "<service><serviceType>urn:schemas-upnp-org:service:WANPPPConnection:1</serviceType><controlURL>/ctl/"
              "IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL></service>"
                                         << false;
    QTest::newRow("without its event path") << Services
            + "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><controlURL>/ctl/"
              "IPConn</controlURL></service>"
                                            << false;
}

void TestUPnPMessages::description()
{
    QFETCH(QByteArray, description);
    QFETCH(bool, found);
    QString controlURL;
    QString eventSubURL;
    QCOMPARE(UPnPMessages::parseDescription(description, &controlURL, &eventSubURL), found);
    if (found) {
        QCOMPARE(controlURL, QStringLiteral("/ctl/IPConn"));
        QCOMPARE(eventSubURL, QStringLiteral("/evt/IPConn"));
    }
}

void TestUPnPMessages::mappingEntry_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Entry>("entry");

    QTest::newRow("whole") << QByteArray(
        "<?xml version=\"1.0\"?><s:Envelope><s:Body><u:GetGenericPortMappingEntryResponse "
        "xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\"><NewRemoteHost></"
        "NewRemoteHost><NewExternalPort>8080</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>80</"
        "NewInternalPort><NewInternalClient>198.19.1.6</NewInternalClient><NewEnabled>1</"
        "NewEnabled><NewPortMappingDescription>web &lt;a&gt; &amp; "
        "b</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration></u:GetGenericPortMappingEntryResponse></"
        "s:Body></s:Envelope>")
                           << entry(8080, "TCP", 80, "198.19.1.6", "web <a> & b", "0");
    QTest::newRow("bad ports, missing elements")
        << QByteArray("<u:GetGenericPortMappingEntryResponse><NewExternalPort>70000</NewExternalPort><NewProtocol>UDP</"
                      "NewProtocol><NewInternalPort>x</NewInternalPort><NewLeaseDuration>3600")
        << entry(0, "UDP", 0, "", "", "");
}

void TestUPnPMessages::mappingEntry()
{
    QFETCH(QByteArray, body);
    QFETCH(Entry, entry);
    QCOMPARE(UPnPMessages::parseMappingEntry(body, "203.0.113.7"), entry);
}

void TestUPnPMessages::subscriptionReply_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("sid");
    QTest::addColumn<int>("timeoutSeconds");

    QTest::newRow("granted") << QByteArray("HTTP/1.1 200 OK\r\nSID: uuid:7-1\r\nTIMEOUT: Second-300\r\n\r\n") << true
                             << "uuid:7-1" << 300;
    QTest::newRow("headers in lower case")
        << QByteArray("HTTP/1.1 200 OK\r\nsid:uuid:7-1\r\ntimeout: second-3600\r\n\r\n") << true << "uuid:7-1" << 3600;
    QTest::newRow("no time") << QByteArray("HTTP/1.1 200 OK\r\nSID: uuid:7-1\r\n\r\n") << true << "uuid:7-1" << -1;
    QTest::newRow("time not a number") << QByteArray("HTTP/1.1 200 OK\r\nTIMEOUT: Second-infinite\r\n\r\n") << true
                                       << "" << -1;
    QTest::newRow("refused") << QByteArray("HTTP/1.1 412 Precondition Failed\r\nX-Note: 200 OK\r\n\r\n") << false << ""
                             << -1;
    QTest::newRow("garbage") << QByteArray("\x01\x02 200 OK") << false << "" << -1;
}

void TestUPnPMessages::subscriptionReply()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, accepted);
    QFETCH(QString, sid);
    QFETCH(int, timeoutSeconds);
    const UPnPMessages::SubscriptionReply reply = UPnPMessages::parseSubscriptionReply(header);
    QCOMPARE(reply.accepted, accepted);
    QCOMPARE(reply.sid, sid);
    QCOMPARE(reply.timeoutSeconds, timeoutSeconds);
}

void TestUPnPMessages::eventRequestLength_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("length");

    QTest::newRow("whole, with the next one")
        << QByteArray("NOTIFY / HTTP/1.1\r\nContent-length: 3\r\n\r\nabcNOTIFY") << 43;
    QTest::newRow("header cut") << QByteArray("NOTIFY / HTTP/1.1\r\nContent-Length: 3\r\n") << 0;
    QTest::newRow("body cut") << QByteArray("NOTIFY / HTTP/1.1\r\nContent-Length: 3\r\n\r\nab") << 0;
    QTest::newRow("no body") << QByteArray("NOTIFY / HTTP/1.1\r\n\r\n") << 21;
    QTest::newRow("length not a number") << QByteArray("NOTIFY / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << -1;
}

void TestUPnPMessages::eventRequestLength()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, length);
    QCOMPARE(UPnPMessages::eventRequestLength(buffer), length);
}

void TestUPnPMessages::eventProperties_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("externalIpAddress");
    QTest::addColumn<int>("numberOfEntries");

    QTest::newRow("address and count") << QByteArray(
        "<e:propertyset "
        "xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><ExternalIPAddress>203.0.113.7</ExternalIPAddress></"
        "e:property><e:property><PortMappingNumberOfEntries>2</PortMappingNumberOfEntries></e:property></"
        "e:propertyset>") << true << "203.0.113.7"
                                       << 2;
    QTest::newRow("count alone") << QByteArray(
        "<e:property><PortMappingNumberOfEntries> 12 </PortMappingNumberOfEntries></e:property>")
                                 << true << "" << 12;
    QTest::newRow("count not a number") << QByteArray("<PortMappingNumberOfEntries>65536</PortMappingNumberOfEntries>")
                                        << true << "" << 0;
    QTest::newRow("count unclosed") << QByteArray("<PortMappingNumberOfEntries>4") << true << "" << 4;
    QTest::newRow("address alone") << QByteArray("<ExternalIPAddress>203.0.113.7</ExternalIPAddress>") << false << ""
                                   << 0;
}

void TestUPnPMessages::eventProperties()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, found);
    QFETCH(QString, externalIpAddress);
    QFETCH(int, numberOfEntries);
    QString address;
    quint16 count = 0;
    QCOMPARE(UPnPMessages::parseEventProperties(body, &address, &count), found);
    QCOMPARE(address, externalIpAddress);
    QCOMPARE(int(count), numberOfEntries);
}

NIMBORA_TEST_MAIN(TestUPnPMessages, QCoreApplication)

#include "tst_upnpmessages.moc"
