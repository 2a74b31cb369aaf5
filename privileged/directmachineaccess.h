#ifndef NIMBORA_PRIVILEGED_DIRECTMACHINEACCESS_H
#define NIMBORA_PRIVILEGED_DIRECTMACHINEACCESS_H

#include "privileged/machineaccess.h"

class MachineChanges;
class OpenVPN;

// The privileged steps done by this process itself, recorded in the state folder's journal:
// the program's own on Windows and for root, the helper's on Linux.
class DirectMachineAccess : public MachineAccess
{
    Q_OBJECT

public:
    explicit DirectMachineAccess(const QString &journalPath, QObject *parent = nullptr);
    // Undoes whatever is still changed and ends OpenVPN.
    ~DirectMachineAccess() override;

    void startOpenVpn(const OpenVpnRequest &request) override;
    void stopOpenVpn() override;
    bool isOpenVpnRunning() const override;
    qint64 openvpnProcessId() const override;
    void changeRoutes(const QList<Route> &remove, const QList<Route> &add) override;
    void usePushedNameServers() override;
    void disableWeakHost(const NetworkAdapter &adapter) override;
    void undo() override;
    bool block(const KillSwitchRules &rules) override;
    void unblock() override;
    bool isBlocked() override;

    // After a network change or a resume: the connection's routes and resolver put back, and
    // OpenVPN asked to reconnect when the way to its endpoint changed or its tunnel is down.
    // True when OpenVPN was asked to reconnect.
    bool repair();
    void repairAfterChange() override { repair(); }

    // The VPN adapter the running OpenVPN uses.
    NetworkAdapter vpnAdapter() const;

private:
    OpenVPN *m_openvpn;
    MachineChanges *m_changes;
};

#endif
