#ifndef NIMBORA_NETCONFIG_NETWORKADAPTER_H
#define NIMBORA_NETCONFIG_NETWORKADAPTER_H

#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>

// A network adapter as the system names it: its Qt view, its GUID text (the interface name
// where the system has no GUID) and, once the routing table gave it, its default gateway
// (adapterGateway() looks it up).
class NetworkAdapter
{
public:
    NetworkAdapter() = default;
    explicit NetworkAdapter(const QNetworkInterface &networkInterface);

    QNetworkInterface networkInterface() const { return m_interface; }
    QString guid() const { return m_guid; }
    bool isValid() const { return m_interface.isValid(); }

    // Null until adapterGateway() has found it.
    QHostAddress gateway() const { return m_gateway; }
    void setGateway(const QHostAddress &gateway) { m_gateway = gateway; }

private:
    QNetworkInterface m_interface;
    QString m_guid;
    QHostAddress m_gateway;
};

#endif
