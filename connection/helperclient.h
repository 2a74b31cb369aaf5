#ifndef NIMBORA_CONNECTION_HELPERCLIENT_H
#define NIMBORA_CONNECTION_HELPERCLIENT_H

#include "privileged/machineaccess.h"

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>

class QDBusMessage;

// The privileged steps asked of the helper over the system bus. The helper acts for the caller
// that connected and for nobody else, and undoes everything when this program leaves the bus.
class HelperClient : public MachineAccess
{
    Q_OBJECT

public:
    explicit HelperClient(QObject *parent = nullptr);
    ~HelperClient() override;

    void startOpenVpn(const OpenVpnRequest &request) override;
    void stopOpenVpn() override;
    bool isOpenVpnRunning() const override { return m_running; }
    qint64 openvpnProcessId() const override { return -1; }
    void changeRoutes(const QList<Route> &remove, const QList<Route> &add) override;
    void usePushedNameServers() override;
    void disableWeakHost(const NetworkAdapter &adapter) override;
    void undo() override;
    bool block(const KillSwitchRules &rules) override;
    void unblock() override;
    bool isBlocked() override;

    // The values of a Connect call.
    static QVariantMap connectValues(const OpenVpnRequest &request);
    // The values of a Block call: the SOCKS server's user is the helper's to know.
    static QVariantMap blockValues(const KillSwitchRules &rules);

private slots:
    void helperLog(const QString &line);
    void helperProgress(int progress);
    void helperTunnelUp(const QString &gateway, const QStringList &dnsServers);
    void helperTunnelDown();
    void helperOpenVpnError(int error);

private:
    // Sends the call and waits for the answer; false, logged, when the helper refuses or is not there.
    bool call(const QString &method, const QVariantList &arguments = {}, QDBusMessage *reply = nullptr);
    void listen(const char *signal, const char *signature, const char *slot);

    QDBusConnection m_bus;
    // The helper holds a connection for this program, from Connect to Disconnect.
    bool m_session = false;
    bool m_running = false;
};

#endif
