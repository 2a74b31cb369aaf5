#ifndef NIMBORA_PRIVILEGED_MACHINECHANGES_H
#define NIMBORA_PRIVILEGED_MACHINECHANGES_H

#include "privileged/undojournal.h"
#include "netconfig/networkadapter.h"
#include "netconfig/networksystem.h"
#include "netconfig/resolverswitch.h"
#include "netconfig/route.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Every change a connection makes to the machine goes through here, and only what was really
// changed is recorded, so that undo() puts back exactly what was there: the routes, the
// resolver and the SOCKS adapter's forwarding and weak-host settings. Each
// change is first written to the undo journal, so that undoLeftovers() can put the machine
// back after a run that never reached its teardown. What cannot be changed is logged, and the
// connection goes on.
class MachineChanges : public QObject
{
    Q_OBJECT

public:
    explicit MachineChanges(const QString &journalPath, QObject *parent = nullptr);
    // Undoes whatever is still changed.
    ~MachineChanges() override;

    // Deletes, then adds, in list order.
    void changeRoutes(const QList<Route> &remove, const QList<Route> &add);
    void useNameServers(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers);
    void disableWeakHost(const NetworkAdapter &adapter);
    // The OpenVPN program of this run, for a next start to end it if this run cannot.
    void noteOpenVpn(qint64 processId);
    void forgetOpenVpn();

    // The resolver, the added routes deleted and the deleted ones added back, then the adapter
    // settings, in that order. Safe to call again.
    void undo();

    // After a network change or a resume: every added route missing from the table is added
    // again; one that left by a physical adapter follows the machine's default route when that
    // went to another gateway or adapter (another network). The resolver is put back when
    // another program rewrote it. True when the way to the endpoint changed: a route holding it
    // (any physical host route when the endpoint is unknown, null) was added again or moved.
    bool repair(const NetworkAdapter &vpnAdapter, const QHostAddress &endpoint);

    // Undoes what a run left in the journal and removes it; the lines say what was done. A
    // journal that cannot be read is kept aside under another name, and said so once.
    static QStringList undoLeftovers(const QString &journalPath);

    // "0.0.0.0 128.0.0.0 198.19.1.1 Nimbora -1", the way the log shows a route.
    static QString routeText(const Route &route);

signals:
    void log(const QString &line);

private:
    bool journal(const QString &entry);
    void addRoutes(const QList<Route> &routes, QList<Route> *done, const char *what, const char *entryKind);
    void deleteRoutes(const QList<Route> &routes, QList<Route> *done, const char *what, const char *entryKind);
    // The default route by a physical adapter now: the machine's own before ours, then by metric.
    Route physicalDefaultRoute(const QList<Route> &table, const QString &vpnAdapterName) const;
    bool putBack(const Route &missing, const Route &replacement);
    bool isResolverInPlace() const;
    void repairResolver();

    UndoJournal m_journal;
    bool m_journalFailed = false;
    ResolverSwitch m_resolver;
    QString m_resolverEntry;
    NetworkAdapter m_resolverAdapter;
    QList<QHostAddress> m_resolverServers;
    QString m_openvpnEntry;
    QString m_weakHostEntry;
    QNetworkInterface m_weakHostInterface;
    NetworkSystem::HostModel m_weakHostModel;
    QList<Route> m_added;
    QList<Route> m_removed;
};

#endif
