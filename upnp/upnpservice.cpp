#include "upnp/upnpservice.h"

#include "upnp/upnpmessages.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const quint16 SsdpPort = 1900;
const int SearchesPerSeries = 3;
const int SearchInterval = 3000;
const int SeriesPause = 60000;
const int RetryAfterRefusal = 10000;
// A gateway that neither answers the subscription nor the control requests must not hold the service.
const int ReplyTimeout = 30000;
// A flood of forged answers is logged once in this while, not once each.
const qint64 RejectionLogInterval = 10000;

} // namespace

UPnPService::UPnPService(QObject *parent)
    : QObject(parent),
      m_ssdpServer(this),
      m_eventServer(this),
      m_networkAccessManager(this),
      m_subscribeTcpSocket(this),
      m_ssdpUdpSocket(this),
      m_timer(this)
{
    qRegisterMetaType<UPnPService::Error>("UPnPService::Error");
    qRegisterMetaType<QList<QHash<QString, QVariant>>>("QList<QHash<QString,QVariant> >");

    m_subscribeTcpSocket.setProxy(QNetworkProxy::NoProxy);
    m_ssdpUdpSocket.setProxy(QNetworkProxy::NoProxy);
    m_eventServer.setProxy(QNetworkProxy::NoProxy);
    m_networkAccessManager.setProxy(QNetworkProxy::NoProxy);
    connect(&m_eventServer, &UPnPEventServer::portMappingPropertiesChanged, this,
        &UPnPService::portMappingPropertiesChanged);
    connect(&m_eventServer, &UPnPEventServer::log, this, &UPnPService::logRejection);
    connect(&m_networkAccessManager, &QNetworkAccessManager::finished, this, &UPnPService::upnpManagerFinished);
    connect(&m_subscribeTcpSocket, &QTcpSocket::connected, this, &UPnPService::subscribeTcpSocketConnected);
    connect(&m_subscribeTcpSocket, &QTcpSocket::readyRead, this, &UPnPService::subscribeTcpSocketReadyRead);
    connect(&m_ssdpUdpSocket, &QUdpSocket::readyRead, this, &UPnPService::ssdpUdpSocketReadyRead);
    connect(&m_timer, &QTimer::timeout, this, &UPnPService::subscribe);
}

void UPnPService::setInterface(const NetworkAdapter &adapter)
{
    m_adapter = adapter;
}

void UPnPService::setGatewayAddress(const QHostAddress &gatewayAddress)
{
    m_gatewayAddress = gatewayAddress;
}

void UPnPService::start()
{
    m_numberOfEntries = 0;
    m_subscribed = false;
    m_enumerating = false;
    m_discovering = false;
    m_retries = 0;
    m_pendingCount.reset();
    m_sid.clear();
    m_heldEvent.reset();

    m_ssdpServer.setInterface(m_adapter);
    m_ssdpServer.setGatewayAddress(m_gatewayAddress);
    if (!m_ssdpServer.bind()) {
        emit log(QStringLiteral("UPnP Service : SSDP server bind failed"));
        stop();
        return;
    }
    if (!m_eventServer.listen(SSDPServer::adapterAddress(m_adapter), 0)) {
        emit log(QStringLiteral("UPnP Service : UPnP event server listen failed"));
        stop();
        return;
    }
    if (!m_ssdpUdpSocket.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        emit log(QStringLiteral("UPnP Service : SSDP socket bind failed"));
        stop();
        return;
    }
    subscribe();
}

void UPnPService::stop()
{
    m_timer.stop();
    m_ssdpServer.close();
    m_eventServer.close();
    m_subscribeTcpSocket.abort();
    m_ssdpUdpSocket.close();
    m_discovering = false;
    m_heldEvent.reset();
}

void UPnPService::addPortMapping(
    quint16 externalPort, const QString &protocol, quint16 internalPort, const QString &description)
{
    post(QStringLiteral("AddPortMapping"),
        UPnPMessages::addPortMappingBody(
            externalPort, protocol, internalPort, SSDPServer::adapterAddress(m_adapter).toString(), description));
}

void UPnPService::deletePortMapping(quint16 externalPort, const QString &protocol)
{
    post(QStringLiteral("DeletePortMapping"), UPnPMessages::deletePortMappingBody(externalPort, protocol));
}

void UPnPService::startServiceTimer(int msec)
{
    m_timer.start(msec);
}

void UPnPService::post(const QString &action, const QByteArray &body)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://%1:%2%3").arg(m_host).arg(m_port).arg(m_controlURL)));
    request.setRawHeader("Content-Type", "text/xml; charset=\"utf-8\"");
    request.setRawHeader("SOAPAction", UPnPMessages::soapAction(action));
    request.setTransferTimeout(ReplyTimeout);
    QNetworkReply *reply = m_networkAccessManager.post(request, body);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > UPnPMessages::MaxReplySize)
            reply->abort();
    });
}

void UPnPService::requestEntry(bool finished)
{
    if (m_numberOfEntries <= m_entries.size() || finished) {
        emit portMappingChanged(m_entries);
        if (!m_pendingCount) {
            m_enumerating = false;
            return;
        }
        m_numberOfEntries = *m_pendingCount;
        m_pendingCount.reset();
        m_entries.clear();
        requestEntry(false);
        return;
    }
    post(QStringLiteral("GetGenericPortMappingEntry"), UPnPMessages::getGenericPortMappingEntryBody(m_entries.size()));
}

void UPnPService::portMappingPropertiesChanged(
    const QString &sid, const QString &externalIpAddress, quint16 numberOfEntries)
{
    if (awaitingFirstGrant()) {
        m_heldEvent = Event { sid, externalIpAddress, numberOfEntries };
        return;
    }
    if (sid.isEmpty() || sid != m_sid) {
        logRejection(QStringLiteral("UPnP Service : event ignored: not from the current subscription"));
        return;
    }
    if (m_enumerating) {
        m_pendingCount = numberOfEntries;
        return;
    }
    m_enumerating = true;
    m_externalIpAddress = externalIpAddress;
    m_numberOfEntries = numberOfEntries;
    m_entries.clear();
    requestEntry(false);
}

void UPnPService::upnpManagerFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    // Replies to requests of a run that has been stopped since.
    if (!m_eventServer.isListening())
        return;
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        const QByteArray action = reply->request().rawHeader("SOAPAction");
        if (action.contains("#AddPortMapping")) {
            emit log(QStringLiteral("UPnP Service : Error while adding UPnP port"));
            emit error(AddPortMappingError);
        } else if (action.contains("#DeletePortMapping")) {
            emit log(QStringLiteral("UPnP Service : Error while deleting UPnP port"));
            emit error(DeletePortMappingError);
        } else if (action.contains("#GetGenericPortMappingEntry")) {
            // A gateway that knows fewer entries than it announced answers with a fault.
            requestEntry(true);
        }
        return;
    }
    if (body.contains("AddPortMappingResponse") || body.contains("DeletePortMappingResponse"))
        return; // the gateway's event brings the new table
    if (body.contains("GetGenericPortMappingEntryResponse")) {
        m_entries.append(UPnPMessages::parseMappingEntry(body, m_externalIpAddress));
        requestEntry(false);
        return;
    }
    readDescription(body);
}

void UPnPService::readDescription(const QByteArray &body)
{
    QString controlURL;
    QString eventSubURL;
    if (!UPnPMessages::parseDescription(body, &controlURL, &eventSubURL))
        return;
    controlURL = UPnPMessages::gatewayPath(controlURL, m_location);
    eventSubURL = UPnPMessages::gatewayPath(eventSubURL, m_location);
    if (controlURL.isNull() || eventSubURL.isNull()) {
        logRejection(QStringLiteral("UPnP Service : device description ignored: a control or event URL is not on "
                                    "the gateway"));
        return;
    }
    m_controlURL = controlURL;
    m_eventSubURL = eventSubURL;
    m_subscribeTcpSocket.connectToHost(m_host, m_port);
    startServiceTimer(ReplyTimeout);
}

void UPnPService::subscribeTcpSocketConnected()
{
    m_subscribeReply.clear();
    m_subscribeTcpSocket.write(m_subscribed ? UPnPMessages::renewalRequest(m_eventSubURL, m_host, m_port, m_sid)
                                            : UPnPMessages::subscribeRequest(m_eventSubURL, m_host, m_port,
                                                m_eventServer.serverAddress().toString(), m_eventServer.serverPort()));
}

void UPnPService::subscribeTcpSocketReadyRead()
{
    m_subscribeReply += m_subscribeTcpSocket.read(UPnPMessages::MaxSubscriptionReplySize - m_subscribeReply.size());
    const int headerLength = UPnPMessages::headerLength(m_subscribeReply);
    if (headerLength < 0 && m_subscribeReply.size() < UPnPMessages::MaxSubscriptionReplySize)
        return;
    const UPnPMessages::SubscriptionReply reply
        = UPnPMessages::parseSubscriptionReply(m_subscribeReply.left(headerLength));
    m_subscribeReply.clear();
    // Every SUBSCRIBE uses a fresh connection.
    m_subscribeTcpSocket.abort();
    m_subscribed = reply.accepted;
    if (!reply.accepted) {
        m_sid.clear();
        startServiceTimer(RetryAfterRefusal);
    } else {
        if (!reply.sid.isEmpty())
            m_sid = reply.sid;
        startServiceTimer(UPnPMessages::renewalInterval(reply.timeoutSeconds));
    }
    releaseHeldEvent();
}

void UPnPService::ssdpUdpSocketReadyRead()
{
    while (m_ssdpUdpSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_ssdpUdpSocket.receiveDatagram();
        UPnPMessages::Location location;
        if (!UPnPMessages::parseLocation(datagram.data(), &location))
            continue;
        // Anyone on the VPN network can send to this socket: only the gateway, asked, may point the
        // service at a description.
        if (!datagram.senderAddress().isEqual(m_gatewayAddress, QHostAddress::ConvertV4MappedToIPv4))
            logRejection(QStringLiteral("UPnP Service : SSDP answer ignored: not from the gateway"));
        else if (!m_discovering)
            logRejection(QStringLiteral("UPnP Service : SSDP answer ignored: no search is running"));
        else if (!UPnPMessages::isGatewayLocation(location, m_gatewayAddress))
            logRejection(QStringLiteral("UPnP Service : SSDP answer ignored: its LOCATION is not an http URL on the "
                                        "gateway's address"));
        else
            fetchDescription(location);
    }
}

void UPnPService::fetchDescription(const UPnPMessages::Location &location)
{
    m_discovering = false;
    m_timer.stop();
    m_location = location.url;
    m_host = location.host;
    m_port = location.port;
    QNetworkRequest request { QUrl(location.url) };
    request.setTransferTimeout(ReplyTimeout);
    QNetworkReply *reply = m_networkAccessManager.get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > UPnPMessages::MaxReplySize)
            reply->abort();
    });
}

// Until the gateway's answer to the first SUBSCRIBE is read, its SID is not known.
bool UPnPService::awaitingFirstGrant() const
{
    return !m_subscribed && m_subscribeTcpSocket.state() != QAbstractSocket::UnconnectedState;
}

void UPnPService::releaseHeldEvent()
{
    if (!m_heldEvent)
        return;
    const Event event = *m_heldEvent;
    m_heldEvent.reset();
    portMappingPropertiesChanged(event.sid, event.externalIpAddress, event.numberOfEntries);
}

void UPnPService::logRejection(const QString &line)
{
    QElapsedTimer &lastLogged = m_rejectionsLogged[line];
    if (lastLogged.isValid() && !lastLogged.hasExpired(RejectionLogInterval))
        return;
    lastLogged.start();
    emit log(line);
}

void UPnPService::subscribe()
{
    m_timer.stop();
    m_subscribeTcpSocket.abort();
    releaseHeldEvent();
    if (m_subscribed) {
        m_subscribeTcpSocket.connectToHost(m_host, m_port);
        startServiceTimer(ReplyTimeout);
        return;
    }
    if (m_retries >= SearchesPerSeries) {
        startServiceTimer(SeriesPause);
        m_retries = 0;
        return;
    }
    m_discovering = true;
    m_ssdpUdpSocket.writeDatagram(UPnPMessages::searchRequest(), m_gatewayAddress, SsdpPort);
    startServiceTimer(SearchInterval);
    ++m_retries;
}
