#include "connection/machinechanges.h"

#include "netconfig/networkconfiguration.h"

MachineChanges::MachineChanges(QObject *parent) : QObject(parent) { }

MachineChanges::~MachineChanges()
{
    undo();
}

QString MachineChanges::routeText(const Route &route)
{
    return QStringList { route.destination.toString(), route.mask.toString(), route.gateway.toString(),
        route.adapter.networkInterface().name(), QString::number(route.metric) }
        .join(QLatin1Char(' '));
}

void MachineChanges::changeRoutes(const QList<Route> &remove, const QList<Route> &add)
{
    deleteRoutes(remove, &m_removed, "delete");
    addRoutes(add, &m_added, "add");
}

void MachineChanges::useNameServers(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers)
{
    QString reason;
    if (!m_resolver.apply(vpnAdapter, servers, &reason))
        emit log(QStringLiteral("Name servers not changed: ") + reason);
}

void MachineChanges::disableSystemProxy()
{
    m_proxySwitch.disable();
}

void MachineChanges::undo()
{
    m_proxySwitch.restore();
    QString reason;
    if (m_resolver.isApplied() && !m_resolver.restore(&reason))
        emit log(QStringLiteral("Name servers not restored: ") + reason);

    const QList<Route> added = m_added;
    const QList<Route> removed = m_removed;
    m_added.clear();
    m_removed.clear();
    QList<Route> undone;
    deleteRoutes(added, &undone, "delete");
    addRoutes(removed, &undone, "restore");
}

void MachineChanges::addRoutes(const QList<Route> &routes, QList<Route> *done, const char *what)
{
    for (const Route &route : routes) {
        QString reason;
        if (addRoute(route, &reason))
            *done << route;
        else
            emit log(QStringLiteral("Route %1 failed: %2: %3").arg(QLatin1String(what), routeText(route), reason));
    }
}

void MachineChanges::deleteRoutes(const QList<Route> &routes, QList<Route> *done, const char *what)
{
    for (const Route &route : routes) {
        QString reason;
        if (deleteRoute(route, &reason))
            *done << route;
        else
            emit log(QStringLiteral("Route %1 failed: %2: %3").arg(QLatin1String(what), routeText(route), reason));
    }
}
