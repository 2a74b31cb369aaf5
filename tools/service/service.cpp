#include "tools/service/service.h"

#include "tools/service/endpointserver.h"
#include "tools/service/mainserver.h"
#include "tools/service/upnpgateway.h"

Service::Service(const ServiceConfig &config, QObject *parent) : QObject(parent), m_config(config) { }

bool Service::start(QString *error)
{
    m_mainServer = new MainServer(m_config, this);
    if (!m_mainServer->listen(error))
        return false;
    for (const ServiceConfig::Endpoint &endpoint : qAsConst(m_config.endpoints)) {
        auto *server = new EndpointServer(endpoint, this);
        m_endpoints.append(server);
        if (!server->listen(error))
            return false;
    }
    for (const ServiceConfig::Gateway &gateway : qAsConst(m_config.gateways)) {
        auto *server = new UPnPGateway(gateway, this);
        m_gateways.append(server);
        if (!server->listen(error))
            return false;
    }
    return true;
}
