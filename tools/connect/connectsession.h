#ifndef NIMBORA_TOOLS_CONNECT_CONNECTSESSION_H
#define NIMBORA_TOOLS_CONNECT_CONNECTSESSION_H

#include "connection/connectionwork.h"
#include "privileged/openvpn.h"
#include "core/accountrefreshwork.h"
#include "core/authenticationwork.h"
#include "core/serversrefreshwork.h"
#include "upnp/upnpservice.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

class QAuthenticator;
class QNetworkProxy;

// One connection without the window, driven the way the main window drives it: log in, read
// the account, fetch the server list, run the connection work until a termination request or
// its end, and turn the outcome into the program's exit status. Prints what happens on
// standard output, one line per event.
class ConnectSession : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus {
        StoppedStatus = 0, // ended by a termination request, nothing left changed
        LoginFailedStatus = 3,
        NoTunnelStatus = 4, // the list could not be fetched, or holds no tunnel to use
        EndedQuietlyStatus = 5, // the connection ended and nobody said why
        ConnectionErrorBase = 10, // + ConnectionWork::Error
        OpenVpnErrorBase = 30 // + OpenVPN::Error
    };

    struct Options
    {
        bool storedLogin = false; // the automatic login kept in the settings
        QString username;
        QString password; // as typed; its digest is sent
        bool rememberLogin = false;
        QString tunnel; // "server/country/tunnel", or FastestTunnel
        int protocol = ConnectionWork::OpenVpnProtocol;
        int tunnelWaitTime = 0; // seconds; 0 leaves the work's own
    };

    static constexpr char FastestTunnel[] = "fastest";

    explicit ConnectSession(const Options &options, QObject *parent = nullptr);
    ~ConnectSession() override;

public slots:
    void start();
    // Nothing new starts after this. A connection is stopped as soon as the work can hear it:
    // while OpenVPN comes up the work would swallow the request, so it waits for connected().
    void requestStop();

signals:
    void ended(int status);

private slots:
    void loginFailed(AuthenticationWork::Error error);
    void loginFinished();
    void accountFailed(AccountRefreshWork::Error error);
    void accountFinished();
    void latencyChanged(const QString &key, int latency);
    void serversFailed(ServersRefreshWork::Error error);
    void serversFinished();
    void connectionLog(const QString &text);
    void connectionUp();
    void connectionFailed(ConnectionWork::Error error);
    void openvpnFailed(OpenVPN::Error error);
    void upnpFailed(UPnPService::Error error);
    void connectionDown();
    void answerProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private:
    void refreshAccount();
    void refreshServers();
    void connectTo(const QVariantHash &tunnel);
    bool chooseTunnel(QVariantHash *tunnel);
    void stopConnection();
    void finish(int status);

    Options m_options;
    AuthenticationWork *m_authenticationWork = nullptr;
    AccountRefreshWork *m_accountRefreshWork = nullptr;
    ServersRefreshWork *m_serversRefreshWork = nullptr;
    ConnectionWork *m_connectionWork = nullptr;
    QHash<QString, int> m_latencies;
    bool m_stageFailed = false; // the running login, account or list work reported an error
    bool m_stopRequested = false;
    bool m_stopSent = false;
    bool m_connected = false;
    bool m_finished = false;
    ConnectionWork::Error m_connectionError = ConnectionWork::NoError;
    OpenVPN::Error m_openvpnError = OpenVPN::NoError;
};

#endif
