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

    // How long a connection may stay open; tests shorten it.
    void setTimeLimit(int msec) { m_timeLimit = msec; }

signals:
    void log(const QString &line);
    void portMappingPropertiesChanged(QString sid, QString externalIpAddress, quint16 numberOfEntries);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    int openConnections() const;

    int m_timeLimit;
};

#endif
