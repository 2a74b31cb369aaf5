#ifndef NETWORKADAPTER_H
#define NETWORKADAPTER_H

#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>

// A network adapter as the system names it: its Qt view, its GUID text (the interface name
// where the system has no GUID) and, once asked for, its default gateway.
class NetworkAdapter
{
public:
    NetworkAdapter() = default;
    explicit NetworkAdapter(const QNetworkInterface &networkInterface);

    QNetworkInterface networkInterface() const { return m_interface; }
    QString guid() const { return m_guid; }
    bool isValid() const { return m_interface.isValid(); }

    // The first default route of the adapter gives it; cached once found, looked up again
    // while there is none.
    QHostAddress gateway();

private:
    QNetworkInterface m_interface;
    QString m_guid;
    QHostAddress m_gateway;
};

#endif
