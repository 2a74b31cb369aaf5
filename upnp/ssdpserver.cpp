#include "upnp/ssdpserver.h"

#include "netconfig/networkconfiguration.h"
#include "upnp/upnpmessages.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>

namespace {

const quint16 SsdpPort = 1900;
const QHostAddress SsdpGroup(QStringLiteral("239.255.255.250"));

} // namespace

SSDPServer::SSDPServer(QObject *parent) : QObject(parent), m_socket(this)
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_socket, &QUdpSocket::readyRead, this, &SSDPServer::socketReadyRead);
}

void SSDPServer::setInterface(const NetworkAdapter &adapter)
{
    m_adapter = adapter;
}

void SSDPServer::setGatewayAddress(const QHostAddress &gatewayAddress)
{
    m_gatewayAddress = gatewayAddress;
}

bool SSDPServer::bind()
{
    if (!m_socket.bind(listeningAddress(adapterAddress(m_adapter)), SsdpPort, QAbstractSocket::ReuseAddressHint))
        return false;
    m_socket.joinMulticastGroup(SsdpGroup, m_adapter.networkInterface());
    return true;
}

void SSDPServer::close()
{
    m_socket.close();
}

QHostAddress SSDPServer::adapterAddress(const NetworkAdapter &adapter)
{
    const QList<QNetworkAddressEntry> entries
        = addressEntries(adapter.networkInterface(), QAbstractSocket::IPv4Protocol);
    return entries.isEmpty() ? QHostAddress() : entries.first().ip();
}

void SSDPServer::socketReadyRead()
{
    const QHostAddress localAddress = adapterAddress(m_adapter);
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        // Only searches of this machine's applications: other hosts on the VPN reach the gateway themselves.
        if (datagram.senderAddress().toIPv4Address() != localAddress.toIPv4Address() || localAddress.isNull()
            || !datagram.data().contains("M-SEARCH"))
            continue;
        m_socket.writeDatagram(
            UPnPMessages::relayedSearch(datagram.data(), quint16(datagram.senderPort())), m_gatewayAddress, SsdpPort);
    }
}
