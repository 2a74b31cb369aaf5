#ifndef NIMBORA_PRIVILEGED_OPENVPN_H
#define NIMBORA_PRIVILEGED_OPENVPN_H

#include "privileged/machineaccess.h"
#include "privileged/openvpnmanager.h"
#include "privileged/openvpnprocess.h"
#include "netconfig/networkadapter.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QProcess>
#include <QString>

class QAuthenticator;

// Runs the OpenVPN program for one connection attempt: builds its command line, answers its
// prompts through the management listener, turns what it prints into progress, a failure
// reason, the pushed route gateway and the connected event, and stops it on request.
class OpenVPN : public QObject
{
    Q_OBJECT

public:
    enum State { Idle = 0, Connecting = 1, Connected = 2, Stopping = 3 };
    Q_ENUM(State)

    enum Error {
        NoError = 0,
        HostNotFoundError = 1,
        ConnectionRefusedError = 2,
        ConnectionTimeoutError = 3,
        ProxyError = 4,
        ProxyTimeoutError = 5,
        ProxyConnectionError = 6,
        ProxyAuthenticationMethodError = 7,
        AuthenticationError = 8,
        InterfaceBusyError = 9,
        NoInterfaceError = 10,
        ManagementError = 11
    };
    Q_ENUM(Error)

    // Each step of stop(): the management close, then SIGTERM, then SIGKILL.
    static constexpr int StopStepTimeout = 5000;
    // A restart asked for is left this long to bring the tunnel up before another is worth asking.
    static constexpr int RestartGrace = 30000;

    OpenVPN();
    ~OpenVPN() override;

    // Everything at once; the program and the CA are the process-wide values.
    void setRequest(const OpenVpnRequest &request);
    void setHost(const QString &host) { m_request.host = host; }
    void setPort(int port) { m_request.port = quint16(port); }
    void setUsername(const QString &username) { m_manager.setUsername(username); }
    void setPassword(const QString &password) { m_manager.setPassword(password); }
    void setProxy(const QNetworkProxy &proxy);

    State state() const { return m_state; }
    int progress() const { return m_progress; }
    QHostAddress gateway() const { return m_gateway; }
    // The name servers the server pushed ("dhcp-option DNS"), in the order it gave them.
    QList<QHostAddress> dnsServers() const { return m_dnsServers; }
    NetworkAdapter tapAdapter() const;
    // The running program's process id, 0 when none runs.
    qint64 processId() const { return m_process.processId(); }
    OpenVpnRequest request() const { return m_request; }
    // Connected, and no restart since the last "Initialization Sequence Completed".
    bool isTunnelUp() const { return m_state == Connected && m_tunnelUp; }
    // A restart was asked less than RestartGrace ago and the tunnel has not come up since.
    bool isRestartPending() const;

    void start();
    bool stop();
    // Once connected: OpenVPN reconnects in the same process (SIGUSR1 through the management
    // channel), keeping the VPN adapter; run without automatic reconnection it ends instead.
    // False, logged, when it could not be asked.
    bool restart();

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void error(OpenVPN::Error error);
    void progressChanged(int progress);
    void log(const QString &line);
    void connected();
    void disconnected();

private slots:
    void readyReadStandardOutput();
    void readyReadStandardError();
    void finished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void setProgress(int progress);
    // Brings the VPN adapter up while OpenVPN waits for it; only Windows needs it.
    void wakeUpInterface();

    State m_state = Idle;
    int m_progress = 0;
    OpenVPNProcess m_process;
    OpenVPNManager m_manager;
    Error m_lastError = NoError;
    QString m_adapterGuid;
    QHostAddress m_gateway;
    QList<QHostAddress> m_dnsServers;
    OpenVpnRequest m_request;
    bool m_tunnelUp = false;
    QElapsedTimer m_restartAsked;
};

Q_DECLARE_METATYPE(OpenVPN::Error)

#endif
