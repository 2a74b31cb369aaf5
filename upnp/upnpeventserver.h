#ifndef NIMBORA_UPNP_UPNPEVENTSERVER_H
#define NIMBORA_UPNP_UPNPEVENTSERVER_H

#include <QString>
#include <QTcpServer>

// The listener that the subscription names as its callback.
class UPnPEventServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit UPnPEventServer(QObject *parent = nullptr);

    // How long a connection may stay silent; tests shorten it.
    void setIdleTimeout(int msec) { m_idleTimeout = msec; }

signals:
    void portMappingPropertiesChanged(QString externalIpAddress, quint16 numberOfEntries);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    int m_idleTimeout;
};

#endif
