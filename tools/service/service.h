#ifndef NIMBORA_TOOLS_SERVICE_SERVICE_H
#define NIMBORA_TOOLS_SERVICE_SERVICE_H

#include "tools/service/serviceconfig.h"

#include <QList>
#include <QObject>

class EndpointServer;
class MainServer;
class UPnPGateway;

// Everything one configuration file describes: the main server, the VPN endpoints and the
// UPnP gateways.
class Service : public QObject
{
    Q_OBJECT

public:
    explicit Service(const ServiceConfig &config, QObject *parent = nullptr);

    bool start(QString *error);

private:
    ServiceConfig m_config;
    MainServer *m_mainServer = nullptr;
    QList<EndpointServer *> m_endpoints;
    QList<UPnPGateway *> m_gateways;
};

#endif
