#ifndef NIMBORA_CONNECTION_MACHINECHANGES_H
#define NIMBORA_CONNECTION_MACHINECHANGES_H

#include "core/networkproxyswitch.h"
#include "netconfig/networkadapter.h"
#include "netconfig/resolverswitch.h"
#include "netconfig/route.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

// Every change a connection makes to the machine goes through here, and only what was really
// changed is recorded, so that undo() puts back exactly what was there: the routes, the
// resolver and the system proxy. What cannot be changed is logged, and the connection goes on.
class MachineChanges : public QObject
{
    Q_OBJECT

public:
    explicit MachineChanges(QObject *parent = nullptr);
    // Undoes whatever is still changed.
    ~MachineChanges() override;

    // Deletes, then adds, in list order.
    void changeRoutes(const QList<Route> &remove, const QList<Route> &add);
    void useNameServers(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers);
    void disableSystemProxy();

    // The system proxy, the resolver, the added routes deleted and the deleted ones added back,
    // in that order. Safe to call again.
    void undo();

    QList<Route> addedRoutes() const { return m_added; }
    QList<Route> removedRoutes() const { return m_removed; }

    // "0.0.0.0 128.0.0.0 198.19.1.1 Nimbora -1", the way the log shows a route.
    static QString routeText(const Route &route);

signals:
    void log(const QString &line);

private:
    void addRoutes(const QList<Route> &routes, QList<Route> *done, const char *what);
    void deleteRoutes(const QList<Route> &routes, QList<Route> *done, const char *what);

    NetworkProxySwitch m_proxySwitch;
    ResolverSwitch m_resolver;
    QList<Route> m_added;
    QList<Route> m_removed;
};

#endif
