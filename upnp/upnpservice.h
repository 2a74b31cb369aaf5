#ifndef NIMBORA_UPNP_UPNPSERVICE_H
#define NIMBORA_UPNP_UPNPSERVICE_H

#include "netconfig/networkadapter.h"
#include "upnp/ssdpserver.h"
#include "upnp/upnpeventserver.h"
#include "upnp/upnpmessages.h"

#include <QByteArray>
#include <QElapsedTimer>
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

#include <optional>

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
    void portMappingPropertiesChanged(const QString &sid, const QString &externalIpAddress, quint16 numberOfEntries);

private:
    struct Event
    {
        QString sid;
        QString externalIpAddress;
        quint16 numberOfEntries = 0;
    };

    void requestEntry(bool finished);
    void post(const QString &action, const QByteArray &body);
    void fetchDescription(const UPnPMessages::Location &location);
    void readDescription(const QByteArray &body);
    bool awaitingFirstGrant() const;
    void releaseHeldEvent();
    void logRejection(const QString &line);

    NetworkAdapter m_adapter;
    QHostAddress m_gatewayAddress;
    SSDPServer m_ssdpServer;
    UPnPEventServer m_eventServer;
    QNetworkAccessManager m_networkAccessManager;
    QTcpSocket m_subscribeTcpSocket;
    QUdpSocket m_ssdpUdpSocket;
    QTimer m_timer;
    QString m_location;
    QString m_host;
    quint16 m_port = 0;
    QString m_controlURL;
    QString m_eventSubURL;
    QString m_sid;
    QList<QHash<QString, QVariant>> m_entries;
    // Each event carries the whole table's count: of those that come during an enumeration only
    // the last matters.
    std::optional<quint16> m_pendingCount;
    QString m_externalIpAddress;
    quint16 m_numberOfEntries = 0;
    bool m_subscribed = false;
    bool m_enumerating = false;
    bool m_discovering = false;
    int m_retries = 0;
    QByteArray m_subscribeReply;
    // The gateway may announce its table before its answer to SUBSCRIBE, with the SID, is read.
    std::optional<Event> m_heldEvent;
    QHash<QString, QElapsedTimer> m_rejectionsLogged;
};

Q_DECLARE_METATYPE(UPnPService::Error)

#endif
