#include "privileged/directmachineaccess.h"

#include "privileged/killswitch.h"
#include "privileged/machinechanges.h"
#include "privileged/openvpn.h"
#include "privileged/statedirectory.h"

DirectMachineAccess::DirectMachineAccess(const QString &journalPath, QObject *parent)
    : MachineAccess(parent), m_openvpn(new OpenVPN), m_changes(new MachineChanges(journalPath, this))
{
    m_openvpn->setParent(this);
    connect(m_changes, &MachineChanges::log, this, &MachineAccess::log);
    connect(m_openvpn, &OpenVPN::log, this, &MachineAccess::log);
    connect(m_openvpn, &OpenVPN::progressChanged, this, &MachineAccess::openvpnProgressChanged);
    connect(m_openvpn, &OpenVPN::error, this, [this](OpenVPN::Error error) { emit openvpnError(int(error)); });
    connect(m_openvpn, &OpenVPN::connected, this,
        [this] { emit openvpnConnected(m_openvpn->gateway(), m_openvpn->dnsServers()); });
    connect(m_openvpn, &OpenVPN::disconnected, this, [this] {
        m_changes->forgetOpenVpn();
        emit openvpnDisconnected();
    });
}

DirectMachineAccess::~DirectMachineAccess()
{
    m_openvpn->disconnect(this);
    undo();
    if (m_openvpn->state() != OpenVPN::Idle)
        m_openvpn->stop();
    m_changes->forgetOpenVpn();
}

void DirectMachineAccess::startOpenVpn(const OpenVpnRequest &request)
{
    m_openvpn->setRequest(request);
    m_openvpn->start();
    m_changes->noteOpenVpn(m_openvpn->processId());
}

void DirectMachineAccess::stopOpenVpn()
{
    if (m_openvpn->state() != OpenVPN::Idle)
        m_openvpn->stop();
}

bool DirectMachineAccess::isOpenVpnRunning() const
{
    return m_openvpn->state() != OpenVPN::Idle;
}

qint64 DirectMachineAccess::openvpnProcessId() const
{
    const qint64 processId = m_openvpn->processId();
    return processId > 0 ? processId : -1;
}

NetworkAdapter DirectMachineAccess::vpnAdapter() const
{
    return m_openvpn->tapAdapter();
}

void DirectMachineAccess::changeRoutes(const QList<Route> &remove, const QList<Route> &add)
{
    m_changes->changeRoutes(remove, add);
}

void DirectMachineAccess::usePushedNameServers()
{
    m_changes->useNameServers(m_openvpn->tapAdapter(), m_openvpn->dnsServers());
}

void DirectMachineAccess::disableWeakHost(const NetworkAdapter &adapter)
{
    m_changes->disableWeakHost(adapter);
}

void DirectMachineAccess::undo()
{
    m_changes->undo();
}

bool DirectMachineAccess::repair()
{
    // A transport's local listener or a host name says nothing of where OpenVPN's packets go.
    const OpenVpnRequest request = m_openvpn->request();
    QHostAddress endpoint(request.proxyType == QNetworkProxy::NoProxy ? request.host : request.proxyAddress);
    if (endpoint.isLoopback())
        endpoint.clear();
    const bool pathChanged = m_changes->repair(m_openvpn->tapAdapter(), endpoint);
    if (m_openvpn->state() != OpenVPN::Connected)
        return false;
    // A tunnel that is down is asked once per grace: every change would cut its reconnection short.
    if (!pathChanged && (m_openvpn->isTunnelUp() || m_openvpn->isRestartPending()))
        return false;
    return m_openvpn->restart();
}

bool DirectMachineAccess::block(const KillSwitchRules &rules)
{
    QString reason;
    if (KillSwitch(StateDirectory::blockPath()).apply(rules, &reason))
        return true;
    emit log(QStringLiteral("Kill switch: traffic outside the tunnel cannot be blocked: ") + reason);
    return false;
}

void DirectMachineAccess::unblock()
{
    QString reason;
    if (!KillSwitch(StateDirectory::blockPath()).lift(&reason))
        emit log(QStringLiteral("Kill switch: the block cannot be lifted: ") + reason);
}

bool DirectMachineAccess::isBlocked()
{
    return KillSwitch(StateDirectory::blockPath()).isInPlace();
}
