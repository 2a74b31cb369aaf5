#ifndef NIMBORA_UPNP_UPNPSERVICE_H
#define NIMBORA_UPNP_UPNPSERVICE_H

#include "netconfig/networkadapter.h"
#include "upnp/ssdpserver.h"
#include "upnp/upnpeventserver.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

class QNetworkReply;

// Drives the gateway on the VPN side: finds it, subscribes to its WANIPConnection:1 events,
// keeps a copy of its port mapping table and adds and deletes mappings on request.
class UPnPService : public QObject
{
    Q_OBJECT

public:
    enum Error { AddPortMappingError = 0, DeletePortMappingError = 1 };
    Q_ENUM(Error)

    explicit UPnPService(QObject *parent = nullptr);

    void setInterface(const NetworkAdapter &adapter);
    void setGatewayAddress(const QHostAddress &gatewayAddress);

signals:
    void log(const QString &line);
    void portMappingChanged(QList<QHash<QString, QVariant>> entries);
    void error(UPnPService::Error error);

public slots:
    void start();
    void stop();
    void addPortMapping(
        quint16 externalPort, const QString &protocol, quint16 internalPort, const QString &description);
    void deletePortMapping(quint16 externalPort, const QString &protocol);

protected:
    // Every wait of the service (search retries, renewal, the way back to discovery) starts here,
    // so that tests can see and shorten it.
    virtual void startServiceTimer(int msec);

private slots:
    void upnpManagerFinished(QNetworkReply *reply);
    void subscribeTcpSocketConnected();
    void subscribeTcpSocketReadyRead();
    void ssdpUdpSocketReadyRead();
    void subscribe();
    void portMappingPropertiesChanged(const QString &externalIpAddress, quint16 numberOfEntries);

private:
    void requestEntry(bool finished);
    void post(const QString &action, const QByteArray &body);
    void subscriptionEnded();

    NetworkAdapter m_adapter;
    QHostAddress m_gatewayAddress;
    SSDPServer m_ssdpServer;
    UPnPEventServer m_eventServer;
    QNetworkAccessManager m_networkAccessManager;
    QTcpSocket m_subscribeTcpSocket;
    QUdpSocket m_ssdpUdpSocket;
    QTimer m_timer;
    QString m_host;
    quint16 m_port = 0;
    QString m_controlURL;
    QString m_eventSubURL;
    QString m_sid;
    QList<QHash<QString, QVariant>> m_entries;
    QList<quint16> m_pendingCounts;
    QString m_externalIpAddress;
    quint16 m_numberOfEntries = 0;
    bool m_subscribed = false;
    bool m_enumerating = false;
    int m_retries = 0;
    QByteArray m_subscribeReply;
};

Q_DECLARE_METATYPE(UPnPService::Error)

#endif
