#ifndef NIMBORA_UPNP_SSDPSERVER_H
#define NIMBORA_UPNP_SSDPSERVER_H

#include "netconfig/networkadapter.h"

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// Passes the searches that applications of this machine multicast on the VPN adapter on to the
// gateway, which answers them directly at the port the relay announces.
class SSDPServer : public QObject
{
    Q_OBJECT

public:
    explicit SSDPServer(QObject *parent = nullptr);

    void setInterface(const NetworkAdapter &adapter);
    void setGatewayAddress(const QHostAddress &gatewayAddress);
    bool bind();
    void close();

    // The first IPv4 address of the adapter, null when it has none.
    static QHostAddress adapterAddress(const NetworkAdapter &adapter);

private slots:
    void socketReadyRead();

private:
    // Where the socket listens to hear the group's searches on the adapter's address.
    static QHostAddress listeningAddress(const QHostAddress &adapterAddress);

    NetworkAdapter m_adapter;
    QHostAddress m_gatewayAddress;
    QUdpSocket m_socket;
};

#endif
