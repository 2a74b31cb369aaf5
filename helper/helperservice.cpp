#include "helper/helperservice.h"

#include "helper/helperarguments.h"
#include "helper/networkwatch.h"
#include "helper/polkitcheck.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/networksystem.h"
#include "privileged/directmachineaccess.h"
#include "privileged/machinechanges.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>

namespace {

// The route of the table that a caller names, with what the system keeps about it, so that it
// comes back as it was; the caller's own when the table has none.
Route liveRoute(const Route &named, const QList<Route> &table)
{
    for (const Route &route : table) {
        if (route == named && route.adapter.networkInterface().name() == named.adapter.networkInterface().name())
            return route;
    }
    return named;
}

// A tun device: OpenVPN may take no other interface, whatever the caller names.
bool isVpnAdapter(const QString &name)
{
    const QList<NetworkSystem::DriverEntry> entries = NetworkSystem::instance()->driverEntries();
    for (const NetworkSystem::DriverEntry &entry : entries) {
        if (entry.instanceId == name && entry.componentId == QLatin1String("tun"))
            return true;
    }
    return false;
}

} // namespace

HelperService::HelperService(const QDBusConnection &bus, const QString &journalPath, const QString &lockPath,
    const QString &blockPath, QObject *parent)
    : QObject(parent),
      m_bus(bus),
      m_journalPath(journalPath),
      m_lock(lockPath),
      m_killSwitch(blockPath),
      m_polkit(new PolkitCheck(bus, this)),
      m_ownerWatcher(new QDBusServiceWatcher(this))
{
    HelperProtocol::registerTypes();
    m_ownerWatcher->setConnection(m_bus);
    m_ownerWatcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_ownerWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &HelperService::ownerLeft);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(IdleTime);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (!m_access)
            emit idle();
    });
    m_idleTimer.start();
}

HelperService::~HelperService()
{
    endConnection();
}

bool HelperService::watchNetwork(QString *errorString)
{
    if (m_networkWatch)
        return true;
    m_networkWatch = new NetworkWatch(m_bus, this);
    connect(m_networkWatch, &NetworkWatch::log, this, [this](const QString &line) {
        trace(line);
        if (m_access)
            sendToOwner("Log", { line });
    });
    // logind waits for the slot's return before the machine sleeps: the block is in place by then.
    connect(m_networkWatch, &NetworkWatch::aboutToSleep, this, &HelperService::repairBlock);
    connect(m_networkWatch, &NetworkWatch::changed, this, &HelperService::networkChanged);
    return m_networkWatch->start(errorString);
}

void HelperService::repairBlock()
{
    if (!m_killSwitch.isInPlace())
        return;
    QString reason;
    if (!m_killSwitch.repair(&reason)) {
        const QString line = QStringLiteral("Kill switch: the block cannot be put back: ") + reason;
        qWarning("nimbora-helper: %s", qPrintable(line));
        if (m_access)
            sendToOwner("Log", { line });
    }
}

void HelperService::networkChanged()
{
    repairBlock();
    if (m_access && m_access->repair())
        sendToOwner("Log", { QStringLiteral("Network change: OpenVPN reconnects") });
}

void HelperService::restartIdleTimer()
{
    m_idleTimer.start();
    if (calledFromDBus())
        trace(QStringLiteral("%1 from %2").arg(message().member(), message().service()));
}

void HelperService::trace(const QString &line) const
{
    if (m_verbose)
        qInfo("%s", qPrintable(line));
}

bool HelperService::callerOwnsConnection()
{
    restartIdleTimer();
    if (m_access && message().service() == m_owner)
        return true;
    sendErrorReply(QLatin1String(HelperProtocol::NotOwnerError),
        QStringLiteral("Only the program that started the connection may do this"));
    return false;
}

void HelperService::Connect(const QVariantMap &values)
{
    restartIdleTimer();
    OpenVpnRequest request;
    QString reason;
    if (!HelperArguments::openvpnRequest(values, &request, &reason)) {
        sendErrorReply(QDBusError::InvalidArgs, reason);
        return;
    }
    if (!isVpnAdapter(request.adapter)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("adapter is not a VPN adapter"));
        return;
    }
    if (m_access) {
        sendErrorReply(QLatin1String(HelperProtocol::BusyError), QStringLiteral("A connection is already there"));
        return;
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    m_polkit->check(call.service(), QLatin1String(HelperProtocol::ConnectAction),
        call.isInteractiveAuthorizationAllowed(), [this, call, request](bool authorized, const QString &reason) {
            if (!authorized) {
                m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::NotAuthorizedError), reason));
                return;
            }
            if (startConnection(call, request))
                m_bus.send(call.createReply());
        });
}

bool HelperService::startConnection(const QDBusMessage &call, const OpenVpnRequest &request)
{
    if (m_access) {
        m_bus.send(call.createErrorReply(
            QLatin1String(HelperProtocol::BusyError), QStringLiteral("A connection is already there")));
        return false;
    }
    // A caller gone while polkit thought would leave a connection nobody ends.
    if (!m_bus.interface()->isServiceRegistered(call.service())) {
        m_bus.send(
            call.createErrorReply(QLatin1String(HelperProtocol::FailedError), QStringLiteral("The caller left")));
        return false;
    }
    switch (m_lock.tryLock()) {
    case ConnectionLock::Taken:
        break;
    case ConnectionLock::Held:
        m_bus.send(call.createErrorReply(
            QLatin1String(HelperProtocol::BusyError), QStringLiteral("another Nimbora program holds the connection")));
        return false;
    case ConnectionLock::Failed:
        m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::FailedError), m_lock.errorString()));
        return false;
    }
    m_owner = call.service();
    m_ownerWatcher->setWatchedServices({ m_owner });
    m_access = new DirectMachineAccess(m_journalPath, this);
    connect(m_access, &MachineAccess::log, this, [this](const QString &line) { sendToOwner("Log", { line }); });
    connect(m_access, &MachineAccess::openvpnProgressChanged, this,
        [this](int progress) { sendToOwner("Progress", { progress }); });
    connect(
        m_access, &MachineAccess::openvpnError, this, [this](int error) { sendToOwner("OpenVpnError", { error }); });
    connect(m_access, &MachineAccess::openvpnDisconnected, this, [this] { sendToOwner("TunnelDown", {}); });
    connect(m_access, &MachineAccess::openvpnConnected, this,
        [this](const QHostAddress &gateway, const QList<QHostAddress> &dnsServers) {
            QStringList servers;
            for (const QHostAddress &server : dnsServers)
                servers << server.toString();
            sendToOwner("TunnelUp", { gateway.toString(), servers });
        });
    m_access->startOpenVpn(request);
    return true;
}

void HelperService::sendToOwner(const char *signal, const QVariantList &arguments)
{
    // Only the connection's caller hears what its OpenVPN says: the log names its server and addresses.
    QDBusMessage message = QDBusMessage::createTargetedSignal(
        m_owner, QLatin1String(HelperProtocol::Path), QLatin1String(HelperProtocol::Interface), QLatin1String(signal));
    message.setArguments(arguments);
    m_bus.send(message);
    trace(QStringLiteral("%1 to %2: %3")
              .arg(QLatin1String(signal), m_owner, arguments.isEmpty() ? QString() : arguments.first().toString()));
}

void HelperService::endConnection()
{
    if (!m_access)
        return;
    m_access->undo();
    m_access->stopOpenVpn();
    // Signals of a connection that is over go nowhere.
    m_access->disconnect(this);
    delete m_access;
    m_access = nullptr;
    m_lock.unlock();
    m_ownerWatcher->setWatchedServices({});
    m_owner.clear();
    restartIdleTimer();
}

void HelperService::ownerLeft(const QString &busName)
{
    if (busName == m_owner)
        endConnection();
}

void HelperService::Disconnect()
{
    // The caller was allowed to connect: its own connection is its to end, active session or not.
    if (callerOwnsConnection())
        endConnection();
}

void HelperService::ChangeRoutes(
    const QList<HelperProtocol::WireRoute> &remove, const QList<HelperProtocol::WireRoute> &add)
{
    if (!callerOwnsConnection())
        return;
    if (remove.size() > HelperArguments::MaximumRoutes || add.size() > HelperArguments::MaximumRoutes) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("too many routes"));
        return;
    }
    QList<Route> removed;
    QList<Route> added;
    QString reason;
    const QList<Route> table = routingTable();
    for (const HelperProtocol::WireRoute &wire : remove) {
        Route route;
        if (!HelperArguments::route(wire, &route, &reason)) {
            sendErrorReply(QDBusError::InvalidArgs, reason);
            return;
        }
        removed << liveRoute(route, table);
    }
    for (const HelperProtocol::WireRoute &wire : add) {
        Route route;
        if (!HelperArguments::route(wire, &route, &reason)) {
            sendErrorReply(QDBusError::InvalidArgs, reason);
            return;
        }
        added << route;
    }
    m_access->changeRoutes(removed, added);
}

void HelperService::UseNameServers()
{
    if (callerOwnsConnection())
        m_access->usePushedNameServers();
}

void HelperService::DisableWeakHost(const QString &adapter)
{
    if (!callerOwnsConnection())
        return;
    const QNetworkInterface networkInterface
        = HelperArguments::isAdapterName(adapter) ? QNetworkInterface::interfaceFromName(adapter) : QNetworkInterface();
    if (!networkInterface.isValid()) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such adapter"));
        return;
    }
    m_access->disableWeakHost(NetworkAdapter(networkInterface));
}

void HelperService::Undo()
{
    if (callerOwnsConnection())
        m_access->undo();
}

QVariantMap HelperService::State()
{
    if (!callerOwnsConnection())
        return {};
    return { { QStringLiteral("openvpn-running"), m_access->isOpenVpnRunning() },
        { QStringLiteral("adapter"), m_access->vpnAdapter().networkInterface().name() } };
}

QStringList HelperService::Restore()
{
    restartIdleTimer();
    setDelayedReply(true);
    const QDBusMessage call = message();
    m_polkit->check(call.service(), QLatin1String(HelperProtocol::RestoreAction),
        call.isInteractiveAuthorizationAllowed(), [this, call](bool authorized, const QString &reason) {
            if (!authorized) {
                m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::NotAuthorizedError), reason));
                return;
            }
            if (m_access || m_lock.tryLock() != ConnectionLock::Taken) {
                m_bus.send(call.createErrorReply(
                    QLatin1String(HelperProtocol::BusyError), QStringLiteral("A connection is there")));
                return;
            }
            QStringList lines = MachineChanges::undoLeftovers(m_journalPath);
            const QString blockLine = liftBlockForRestore();
            if (!blockLine.isEmpty())
                lines << blockLine;
            m_lock.unlock();
            m_bus.send(call.createReply(QVariant(lines)));
        });
    return {};
}

void HelperService::Block(const QVariantMap &values)
{
    restartIdleTimer();
    KillSwitchRules rules;
    QString reason;
    if (!HelperArguments::killSwitchRules(values, &rules, &reason)) {
        sendErrorReply(QDBusError::InvalidArgs, reason);
        return;
    }
    if (!isVpnAdapter(rules.vpnAdapter)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("vpn-adapter is not a VPN adapter"));
        return;
    }
    // Whose sockets pass by the SOCKS address is the bus's word, never the caller's.
    if (!rules.socksAddress.isNull()) {
        const QDBusReply<uint> user = m_bus.interface()->serviceUid(message().service());
        if (!user.isValid()) {
            sendErrorReply(QLatin1String(HelperProtocol::FailedError), QStringLiteral("The caller's user is unknown"));
            return;
        }
        rules.socksUser = user.value();
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    whenAllowedToBlock(call, [this, call, rules] { applyBlock(call, rules); });
}

void HelperService::Unblock()
{
    restartIdleTimer();
    setDelayedReply(true);
    const QDBusMessage call = message();
    whenAllowedToBlock(call, [this, call] { liftBlock(call); });
}

bool HelperService::IsBlocked()
{
    restartIdleTimer();
    return m_killSwitch.isInPlace();
}

void HelperService::whenAllowedToBlock(const QDBusMessage &call, const std::function<void()> &step)
{
    const auto refuseOthers = [this, call, step] {
        if (m_access && call.service() != m_owner) {
            m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::NotOwnerError),
                QStringLiteral("Only the program that started the connection may do this")));
            return;
        }
        step();
    };
    if (m_access) {
        refuseOthers();
        return;
    }
    // No connection: whoever may connect may block, or lift a block a connection left.
    m_polkit->check(call.service(), QLatin1String(HelperProtocol::ConnectAction),
        call.isInteractiveAuthorizationAllowed(), [this, call, refuseOthers](bool authorized, const QString &reason) {
            if (!authorized) {
                m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::NotAuthorizedError), reason));
                return;
            }
            // A connection may have started while polkit thought.
            refuseOthers();
        });
}

void HelperService::applyBlock(const QDBusMessage &call, const KillSwitchRules &rules)
{
    QString reason;
    if (!m_killSwitch.apply(rules, &reason)) {
        m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::FailedError), reason));
        return;
    }
    if (m_access)
        sendToOwner("Log", { QStringLiteral("Kill switch: traffic outside the tunnel is blocked") });
    trace(QStringLiteral("block in place for %1").arg(call.service()));
    m_bus.send(call.createReply());
}

void HelperService::liftBlock(const QDBusMessage &call)
{
    const bool wasInPlace = m_killSwitch.isInPlace();
    QString reason;
    if (!m_killSwitch.lift(&reason)) {
        m_bus.send(call.createErrorReply(QLatin1String(HelperProtocol::FailedError), reason));
        return;
    }
    if (wasInPlace && m_access)
        sendToOwner("Log", { QStringLiteral("Kill switch: block lifted") });
    trace(QStringLiteral("block lifted for %1").arg(call.service()));
    m_bus.send(call.createReply());
}

QString HelperService::liftBlockForRestore()
{
    const bool wasInPlace = m_killSwitch.isInPlace();
    QString reason;
    if (!m_killSwitch.lift(&reason))
        return QStringLiteral("Kill switch: the block could not be lifted: %1").arg(reason);
    return wasInPlace ? QStringLiteral("Kill switch: block lifted") : QString();
}
