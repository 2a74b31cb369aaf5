#include "privileged/directmachineaccess.h"

#include "privileged/machinechanges.h"
#include "privileged/openvpn.h"

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

bool DirectMachineAccess::block(const KillSwitchRules &rules)
{
    Q_UNUSED(rules)
    return false;
}

void DirectMachineAccess::unblock()
{
}

bool DirectMachineAccess::isBlocked()
{
    return false;
}
