#ifndef NIMBORA_PRIVILEGED_MACHINEACCESS_H
#define NIMBORA_PRIVILEGED_MACHINEACCESS_H

#include "base/settingskeys.h"
#include "privileged/killswitchrules.h"
#include "netconfig/route.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QString>

// What OpenVPN is started with: values only. Whoever runs it builds the command line, chooses
// the program, the CA and the management channel; nothing here can name a file, an option or
// a script.
struct OpenVpnRequest
{
    QString adapter; // the VPN adapter's name (Linux) or GUID (Windows)
    QString host; // a host name or an IPv4 address
    quint16 port = 0;
    QNetworkProxy::ProxyType proxyType = QNetworkProxy::NoProxy;
    QString proxyAddress; // numeric
    quint16 proxyPort = 0;
    QString proxyUser;
    QString proxyPassword;
    QString proxyAuthMethod = QStringLiteral("Automatique");
    QString username;
    QString password;
    bool autoReconnect = SettingsKeys::AutoReconnectDefault;
    // True: the VPN server's name servers; false: these, the physical adapter's.
    bool useServerDns = SettingsKeys::DnsServerDefault;
    QList<QHostAddress> dnsServers;
    QString windowsIpMethod = QString::fromLatin1(SettingsKeys::WindowsIpMethodDefault);
};

// The steps of a connection that need the machine's privileges: OpenVPN, routes, the resolver,
// forwarding and weak-host settings, each recorded so that it is undone at the end or after a
// crash. Served in process where the program itself has the privileges (Windows, root) and by
// the privileged helper over the system bus otherwise. Calls return once the step is done.
class MachineAccess : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts OpenVPN; openvpnConnected() or openvpnDisconnected() follow.
    virtual void startOpenVpn(const OpenVpnRequest &request) = 0;
    // Returns once OpenVPN is gone or could not be stopped; openvpnDisconnected() follows.
    virtual void stopOpenVpn() = 0;
    virtual bool isOpenVpnRunning() const = 0;
    // The OpenVPN program's process id where the caller can see it, else -1.
    virtual qint64 openvpnProcessId() const = 0;

    // Deletes, then adds, in list order.
    virtual void changeRoutes(const QList<Route> &remove, const QList<Route> &add) = 0;
    // The name servers the VPN server pushed, on the VPN adapter.
    virtual void usePushedNameServers() = 0;
    virtual void disableWeakHost(const NetworkAdapter &adapter) = 0;
    // Puts back routes, resolver and adapter settings; OpenVPN is left to stopOpenVpn().
    virtual void undo() = 0;

    // Rejects what leaves by another adapter than the VPN's unless the rules let it through,
    // replacing an earlier block in one step; false, logged, when it could not be put in place.
    // The block outlives this object and the connection: only unblock(), Restore or a restart of
    // the machine lifts it.
    virtual bool block(const KillSwitchRules &rules) = 0;
    virtual void unblock() = 0;
    virtual bool isBlocked() = 0;

    // After sleep or a change of network, while connected: routes, resolver and block checked and
    // put back, OpenVPN restarted when the way to the server changed. The helper does it by itself.
    virtual void repairAfterChange() { }

signals:
    void log(const QString &line);
    void openvpnProgressChanged(int progress);
    // The tunnel is up: the gateway and the name servers the server pushed.
    void openvpnConnected(const QHostAddress &gateway, const QList<QHostAddress> &dnsServers);
    void openvpnDisconnected();
    // An OpenVPN::Error.
    void openvpnError(int error);
};

#endif
