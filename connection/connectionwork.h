#ifndef NIMBORA_CONNECTION_CONNECTIONWORK_H
#define NIMBORA_CONNECTION_CONNECTIONWORK_H

#include "connection/killswitchplan.h"
#include "connection/routeplan.h"
#include "privileged/openvpn.h"
#include "core/backgroundworker.h"
#include "upnp/upnpservice.h"

#include <QAuthenticator>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QString>
#include <QVariant>

#include <atomic>

class HttpServer;
class HttpsServer;
class MachineAccess;
class SystemProxyChange;
class SocksServer;
class SystemEvents;

// One VPN connection from the main server's permission to teardown: the local listener of the
// transport, OpenVPN, UPnP on the VPN side, the routes, the SOCKS server, the exceptions and the
// system proxy and resolver, then everything undone in a fixed order when it ends.
class ConnectionWork : public BackgroundWorker
{
    Q_OBJECT

public:
    enum Protocol { OpenVpnProtocol = 1, HttpsProtocol = 2, HttpProtocol = 4 };
    Q_ENUM(Protocol)

    enum Error {
        NoError = 0,
        ServerError = 1,
        DeniedError = 2,
        AlreadyConnectedError = 3,
        OfflineError = 4,
        ForbiddenError = 5,
        FullError = 6,
        SaturatedError = 7,
        DefaultInterfaceError = 8,
        SocksServerError = 9,
        DisconnectedError = 10,
        FailedError = 11
    };
    Q_ENUM(Error)

    // Seconds OpenVPN has to bring the tunnel up, and to go away at teardown.
    static constexpr int TunnelWaitTime = 60;
    static constexpr int OpenVpnStopWaitTime = 20;

    explicit ConnectionWork(QObject *parent = nullptr);
    ~ConnectionWork() override;

    // Starts a run; a stop asked for before it belongs to an earlier run and is forgotten.
    void start(QThread::Priority priority = InheritPriority);

    void setServer(const QHash<QString, QVariant> &server);
    void setProtocol(int protocol);
    bool isConnected() const;
    // After a run: whether the kill switch's block stayed in place (a drop the user did not ask for).
    bool isTrafficBlocked() const;

    // Shortens the wait for the tunnel, for tests of what follows a silent OpenVPN.
    void setTunnelWaitTime(int seconds);

    // The main server's reply code to the work's error; NoError for "OK".
    static Error replyCodeError(const QString &code);

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void error(ConnectionWork::Error error);
    void log(const QString &line);
    void connected();
    void disconnected();
    void openvpnError(OpenVPN::Error error);
    void portMappingChanged(QList<QHash<QString, QVariant>> entries);
    void upnpError(UPnPService::Error error);

public slots:
    // Safe from any thread, in any phase: a stop is never lost. While OpenVPN brings the tunnel
    // up the wait goes on, and the run tears down as soon as it ends.
    void stop();
    void timeout();
    void openvpnProgressChanged(int value);
    void openvpnConnected(const QHostAddress &gateway, const QList<QHostAddress> &dnsServers);
    void openvpnDisconnected();
    void addPortMapping(
        quint16 externalPort, const QString &protocol, quint16 internalPort, const QString &description);
    void deletePortMapping(quint16 externalPort, const QString &protocol);

protected:
    void run() override;
    // True when the tunnel came up within the wait and no stop was asked for meanwhile.
    bool waitForTunnel();

private:
    enum WaitResult { TunnelUp = 0, OpenVpnGone = 1, TimedOut = 3, StopRequested = 4 };

    int waitForEvent(int seconds);
    void createObjects();
    void deleteObjects();
    Error requestConnection(const QString &session);
    QNetworkProxy proxyInForce() const;
    void writeLogHeader(const QNetworkProxy &proxy);
    void startListener(const QString &connectHost, const QNetworkProxy &proxy, const QString &session);
    void startOpenVpn(
        const QString &connectHost, const QNetworkProxy &proxy, const QString &username, const QString &session);
    OpenVpnRequest openvpnRequest(
        const QString &connectHost, const QNetworkProxy &proxy, const QString &username, const QString &session) const;
    // The listeners take OpenVPN's connections only.
    void acceptOnlyOpenVpn();
    // From the tunnel being up to connected(); false when the run must end instead.
    bool configure(const QHostAddress &endpoint, SystemProxyChange *proxyChange);
    bool startSocksServer(const NetworkAdapter &adapter);
    void addExceptionRoutes(RoutePlan *plan, const RoutePlan::Input &input);
    void logRoutingTable();
    void stayConnected();
    void systemChanged();
    void tearDown(SystemProxyChange *proxyChange);
    bool redirecting() const;
    // The exceptions' addresses, each resolved once a run.
    QList<QList<QHostAddress>> exceptionAddresses();
    KillSwitchPlan::Input blockInput(const QString &connectHost, const QNetworkProxy &proxy, bool resolveNames);
    void block(const KillSwitchRules &rules);
    // At the end of a run: the block goes unless the tunnel dropped without the user asking.
    void settleBlock();
    NetworkAdapter vpnAdapter() const;

    HttpsServer *m_httpsServer = nullptr;
    HttpServer *m_httpServer = nullptr;
    MachineAccess *m_machine = nullptr;
    SocksServer *m_socksServer = nullptr;
    UPnPService *m_upnpService = nullptr;
    // Lives on the thread that made the work, where the system's messages arrive.
    SystemEvents *m_systemEvents = nullptr;
    QHash<QString, QVariant> m_server;
    int m_protocol = OpenVpnProtocol;
    std::atomic<bool> m_connected { false };
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_trafficBlocked { false };
    // Port mappings are asked for only between connected() and the teardown; on the work's thread.
    bool m_acceptsPortMappings = false;
    int m_tunnelWaitTime = TunnelWaitTime;
    // The gateway the server pushed, from the tunnel coming up.
    QHostAddress m_vpnGateway;
    // The kill switch, on the work's thread: what the block is made of, whether one stands, whether
    // it stood before this run (a drop's), whether this run's tunnel dropped.
    KillSwitchPlan::Input m_blockInput;
    bool m_blockInPlace = false;
    bool m_blockedAtStart = false;
    bool m_dropped = false;
    QList<QList<QHostAddress>> m_exceptionAddresses;
    bool m_exceptionsResolved = false;
};

Q_DECLARE_METATYPE(ConnectionWork::Error)

#endif
