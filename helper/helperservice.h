#ifndef NIMBORA_HELPER_HELPERSERVICE_H
#define NIMBORA_HELPER_HELPERSERVICE_H

#include "privileged/connectionlock.h"
#include "privileged/helperprotocol.h"
#include "privileged/killswitch.h"
#include "privileged/machineaccess.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>

class DirectMachineAccess;
class NetworkWatch;
class PolkitCheck;
class QDBusServiceWatcher;

// The helper's object on the system bus: one connection at a time, for the caller that started
// it. Connecting and disconnecting are polkit's to allow; every other call comes from the
// connection's own caller or is refused. When that caller leaves the bus, everything is undone
// but the block of traffic outside the tunnel: the user asked for none while the tunnel is down,
// so it stays, one for the whole machine, until it is lifted or the machine restarts.
class HelperService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.ostrelle.NimboraHelper")

public:
    // Ends the helper after this long without a connection; it is started again on demand.
    static constexpr int IdleTime = 2 * 60 * 1000;

    HelperService(const QDBusConnection &bus, const QString &journalPath, const QString &lockPath,
        const QString &blockPath, QObject *parent = nullptr);
    ~HelperService() override;

    bool hasConnection() const { return m_access != nullptr; }
    // Every call and every signal on standard error, for debugging; credentials are never said.
    void setVerbose(bool verbose) { m_verbose = verbose; }
    // Sleep and network changes repair the block and the connection from now on; false with the
    // reason when the kernel's changes cannot be watched.
    bool watchNetwork(QString *errorString);

public slots:
    Q_SCRIPTABLE void Connect(const QVariantMap &values);
    Q_SCRIPTABLE void Disconnect();
    Q_SCRIPTABLE void ChangeRoutes(
        const QList<HelperProtocol::WireRoute> &remove, const QList<HelperProtocol::WireRoute> &add);
    Q_SCRIPTABLE void UseNameServers();
    Q_SCRIPTABLE void DisableWeakHost(const QString &adapter);
    Q_SCRIPTABLE void Undo();
    Q_SCRIPTABLE QVariantMap State();
    Q_SCRIPTABLE QStringList Restore();
    // The block: the connection's caller while one stands, polkit's connect action otherwise.
    Q_SCRIPTABLE void Block(const QVariantMap &values);
    Q_SCRIPTABLE void Unblock();
    Q_SCRIPTABLE bool IsBlocked();

signals:
    void idle();

private:
    // False, with the error sent, unless the call comes from the connection's caller.
    bool callerOwnsConnection();
    bool startConnection(const QDBusMessage &call, const OpenVpnRequest &request);
    void endConnection();
    void ownerLeft(const QString &busName);
    // Runs step for the call once its caller may change the block; else sends the refusal.
    void whenAllowedToBlock(const QDBusMessage &call, const std::function<void()> &step);
    void applyBlock(const QDBusMessage &call, const KillSwitchRules &rules);
    void liftBlock(const QDBusMessage &call);
    QString liftBlockForRestore();
    void sendToOwner(const char *signal, const QVariantList &arguments);
    void restartIdleTimer();
    void trace(const QString &line) const;
    void repairBlock();
    void networkChanged();

    QDBusConnection m_bus;
    QString m_journalPath;
    ConnectionLock m_lock;
    KillSwitch m_killSwitch;
    PolkitCheck *m_polkit;
    QDBusServiceWatcher *m_ownerWatcher;
    NetworkWatch *m_networkWatch = nullptr;
    DirectMachineAccess *m_access = nullptr;
    QString m_owner;
    QTimer m_idleTimer;
    bool m_verbose = false;
};

#endif
