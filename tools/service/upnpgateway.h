#ifndef NIMBORA_TOOLS_SERVICE_UPNPGATEWAY_H
#define NIMBORA_TOOLS_SERVICE_UPNPGATEWAY_H

#include "tools/service/serviceconfig.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUdpSocket>

class GatewaySubscription;
class HttpConnection;

// A small UPnP Internet gateway device on one address: it answers unicast M-SEARCH on the SSDP
// port, serves its description, takes AddPortMapping, DeletePortMapping and
// GetGenericPortMappingEntry on its control URL, and SUBSCRIBE on its event URL, after which
// each subscriber is sent ExternalIPAddress and PortMappingNumberOfEntries at once and after
// every change. Mappings are only kept in a table: nothing is forwarded.
class UPnPGateway : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaximumBody = 64 * 1024;
    static constexpr int MaximumDatagram = 8 * 1024;
    static constexpr int MaximumMappings = 128;
    static constexpr int MaximumSubscriptions = 16;

    UPnPGateway(const ServiceConfig::Gateway &gateway, QObject *parent = nullptr);

    bool listen(QString *error);

private slots:
    void ssdpReadyRead();
    void newConnection();
    void requestStarted(HttpConnection *connection);
    void bodyReceived(HttpConnection *connection, const QByteArray &bytes);
    void requestFinished(HttpConnection *connection);
    void connectionClosed(HttpConnection *connection);

private:
    struct Mapping
    {
        quint16 externalPort = 0;
        QString protocol;
        quint16 internalPort = 0;
        QString internalClient;
        QString description;
        QString leaseDuration;
    };

    void answerSearch(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort);
    QByteArray location() const;
    QByteArray description() const;
    void control(HttpConnection *connection, const QByteArray &body);
    QByteArray addPortMapping(const QHash<QString, QString> &arguments, int *fault);
    QByteArray deletePortMapping(const QHash<QString, QString> &arguments, int *fault);
    QByteArray portMappingEntry(const QHash<QString, QString> &arguments, int *fault) const;
    void subscribe(HttpConnection *connection);
    void unsubscribe(HttpConnection *connection);
    QByteArray propertySet() const;
    void announce();
    int mappingIndex(quint16 externalPort, const QString &protocol) const;

    const ServiceConfig::Gateway &m_gateway;
    QUdpSocket m_ssdpSocket;
    QTcpServer m_httpServer;
    QHash<HttpConnection *, QByteArray> m_bodies;
    QList<Mapping> m_mappings;
    QList<GatewaySubscription *> m_subscriptions;
};

#endif
