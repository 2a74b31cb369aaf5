#include "tools/connect/connectsession.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/md5.h"
#include "tools/connect/tunnelchoice.h"

#include <QAuthenticator>
#include <QMetaEnum>
#include <QNetworkProxy>
#include <QSettings>

#include <cstdio>

namespace {

void printLine(const QString &line)
{
    fputs(line.toUtf8().append('\n').constData(), stdout);
    fflush(stdout);
}

void complain(const QString &problem)
{
    fprintf(stderr, "nimbora-connect: %s\n", problem.toUtf8().constData());
    fflush(stderr);
}

template <typename Enum>
QString enumName(Enum value)
{
    const char *key = QMetaEnum::fromType<Enum>().valueToKey(int(value));
    return key ? QString::fromLatin1(key) : QString::number(int(value));
}

// Control characters from the network or OpenVPN must not reach a terminal, nor split a line.
QString printable(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\t') || c.category() != QChar::Other_Control)
            clean += c;
    }
    return clean;
}

QString protocolName(int protocol)
{
    switch (protocol) {
    case ConnectionWork::HttpsProtocol:
        return QStringLiteral("https");
    case ConnectionWork::HttpProtocol:
        return QStringLiteral("http");
    default:
        return QStringLiteral("openvpn");
    }
}

} // namespace

ConnectSession::ConnectSession(const Options &options, QObject *parent) : QObject(parent), m_options(options) { }

// Each work was waited for when it finished; the works go with their owner.
ConnectSession::~ConnectSession() = default;

void ConnectSession::start()
{
    if (m_stopRequested) {
        finish(StoppedStatus);
        return;
    }
    QString username = m_options.username;
    QString digest = md5Hex(m_options.password);
    bool autoLogin = m_options.rememberLogin;
    if (m_options.storedLogin) {
        QSettings settings;
        username = settings.value(SettingsKeys::AuthenticationUsername).toString();
        digest = settings.value(SettingsKeys::AuthenticationPassword).toString();
        // Logging in again must not lose the automatic login it came from.
        autoLogin = true;
        if (username.isEmpty() || digest.isEmpty()) {
            complain(QStringLiteral("no automatic login is stored"));
            finish(LoginFailedStatus);
            return;
        }
    }

    m_authenticationWork = new AuthenticationWork(this);
    connect(m_authenticationWork, &AuthenticationWork::error, this, &ConnectSession::loginFailed,
        Qt::BlockingQueuedConnection);
    connect(m_authenticationWork, &AuthenticationWork::proxyAuthenticationRequired, this,
        &ConnectSession::answerProxyAuthentication, Qt::BlockingQueuedConnection);
    connect(m_authenticationWork, &QThread::finished, this, &ConnectSession::loginFinished);
    m_authenticationWork->setUsername(username);
    m_authenticationWork->setPassword(digest);
    m_authenticationWork->setAutoLogin(autoLogin);
    m_authenticationWork->start();
}

void ConnectSession::requestStop()
{
    if (m_stopRequested) {
        complain(QStringLiteral("already stopping; waiting for the connection to be undone"));
        return;
    }
    m_stopRequested = true;
    if (m_connected)
        stopConnection();
}

void ConnectSession::loginFailed(AuthenticationWork::Error error)
{
    m_stageFailed = true;
    printLine(QStringLiteral("login error: ") + enumName(error));
}

void ConnectSession::loginFinished()
{
    m_authenticationWork->wait();
    if (m_stageFailed || m_authenticationWork->progress() != 100)
        finish(LoginFailedStatus);
    else if (m_stopRequested)
        finish(StoppedStatus);
    else
        refreshAccount();
}

// The main window takes the account's own user name for OpenVPN from here, so this does too.
void ConnectSession::refreshAccount()
{
    printLine(QStringLiteral("logged in"));
    m_accountRefreshWork = new AccountRefreshWork(this);
    connect(m_accountRefreshWork, &AccountRefreshWork::error, this, &ConnectSession::accountFailed,
        Qt::BlockingQueuedConnection);
    connect(m_accountRefreshWork, &AccountRefreshWork::proxyAuthenticationRequired, this,
        &ConnectSession::answerProxyAuthentication, Qt::BlockingQueuedConnection);
    connect(m_accountRefreshWork, &QThread::finished, this, &ConnectSession::accountFinished);
    m_accountRefreshWork->start();
}

void ConnectSession::accountFailed(AccountRefreshWork::Error error)
{
    m_stageFailed = true;
    printLine(QStringLiteral("account error: ") + enumName(error));
}

void ConnectSession::accountFinished()
{
    m_accountRefreshWork->wait();
    if (m_stageFailed) {
        finish(LoginFailedStatus);
        return;
    }
    GlobalValues::setValue(GlobalValues::Username, m_accountRefreshWork->username());
    if (m_stopRequested)
        finish(StoppedStatus);
    else
        refreshServers();
}

void ConnectSession::refreshServers()
{
    m_serversRefreshWork = new ServersRefreshWork(this);
    // Only the fastest tunnel needs measured latencies.
    const bool fastest = m_options.tunnel == QLatin1String(FastestTunnel);
    m_serversRefreshWork->setActions(
        fastest ? ServersRefreshWork::FetchList | ServersRefreshWork::MeasureLatencies : ServersRefreshWork::FetchList);
    connect(m_serversRefreshWork, &ServersRefreshWork::error, this, &ConnectSession::serversFailed,
        Qt::BlockingQueuedConnection);
    connect(m_serversRefreshWork, &ServersRefreshWork::proxyAuthenticationRequired, this,
        &ConnectSession::answerProxyAuthentication, Qt::BlockingQueuedConnection);
    if (fastest)
        connect(m_serversRefreshWork, &ServersRefreshWork::latencyChanged, this, &ConnectSession::latencyChanged);
    connect(m_serversRefreshWork, &QThread::finished, this, &ConnectSession::serversFinished);
    m_serversRefreshWork->start();
}

void ConnectSession::latencyChanged(const QString &key, int latency)
{
    m_latencies.insert(key, latency);
    printLine(QStringLiteral("latency: %1 %2").arg(printable(key)).arg(latency));
}

void ConnectSession::serversFailed(ServersRefreshWork::Error error)
{
    m_stageFailed = true;
    printLine(QStringLiteral("servers error: ") + enumName(error));
}

void ConnectSession::serversFinished()
{
    m_serversRefreshWork->wait();
    QVariantHash tunnel;
    if (m_stageFailed || !chooseTunnel(&tunnel))
        finish(NoTunnelStatus);
    else if (m_stopRequested)
        finish(StoppedStatus);
    else
        connectTo(tunnel);
}

bool ConnectSession::chooseTunnel(QVariantHash *tunnel)
{
    const QVariantList servers = m_serversRefreshWork->servers();
    QString key = m_options.tunnel;
    if (key == QLatin1String(FastestTunnel)) {
        *tunnel = TunnelChoice::fastest(servers, m_latencies, m_options.protocol, &key);
        if (tunnel->isEmpty()) {
            complain(QStringLiteral("no measured tunnel offers %1").arg(protocolName(m_options.protocol)));
            return false;
        }
    } else {
        *tunnel = TunnelChoice::byKey(servers, key);
        if (tunnel->isEmpty()) {
            complain(QStringLiteral("the server list has no tunnel %1").arg(key));
            return false;
        }
        if (!TunnelChoice::offersProtocol(*tunnel, m_options.protocol)) {
            complain(QStringLiteral("the tunnel %1 does not offer %2").arg(key, protocolName(m_options.protocol)));
            return false;
        }
    }
    printLine(QStringLiteral("tunnel: ") + printable(key));
    return true;
}

void ConnectSession::connectTo(const QVariantHash &tunnel)
{
    m_connectionWork = new ConnectionWork(this);
    connect(m_connectionWork, &ConnectionWork::log, this, &ConnectSession::connectionLog);
    connect(m_connectionWork, &ConnectionWork::connected, this, &ConnectSession::connectionUp);
    connect(m_connectionWork, &ConnectionWork::error, this, &ConnectSession::connectionFailed,
        Qt::BlockingQueuedConnection);
    connect(m_connectionWork, &ConnectionWork::proxyAuthenticationRequired, this,
        &ConnectSession::answerProxyAuthentication, Qt::BlockingQueuedConnection);
    connect(m_connectionWork, &ConnectionWork::openvpnError, this, &ConnectSession::openvpnFailed);
    connect(m_connectionWork, &ConnectionWork::upnpError, this, &ConnectSession::upnpFailed);
    connect(m_connectionWork, &ConnectionWork::disconnected, this, &ConnectSession::connectionDown);
    m_connectionWork->setServer(tunnel);
    m_connectionWork->setProtocol(m_options.protocol);
    if (m_options.tunnelWaitTime > 0)
        m_connectionWork->setTunnelWaitTime(m_options.tunnelWaitTime);
    m_connectionWork->start();
}

// OpenVPN hands over whole chunks of its output; each of their lines is a line here.
void ConnectSession::connectionLog(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString clean = printable(line);
        if (!clean.isEmpty())
            printLine(QStringLiteral("log: ") + clean);
    }
}

void ConnectSession::connectionUp()
{
    m_connected = true;
    printLine(QStringLiteral("connected"));
    if (m_stopRequested)
        stopConnection();
}

void ConnectSession::connectionFailed(ConnectionWork::Error error)
{
    m_connectionError = error;
    printLine(QStringLiteral("error: ") + enumName(error));
}

void ConnectSession::openvpnFailed(OpenVPN::Error error)
{
    printLine(QStringLiteral("openvpn error: ") + enumName(error));
    // What OpenVPN says on its way down after our own stop is not why the connection ended.
    if (!m_stopSent && m_openvpnError == OpenVPN::NoError)
        m_openvpnError = error;
}

void ConnectSession::upnpFailed(UPnPService::Error error)
{
    printLine(QStringLiteral("upnp error: ") + enumName(error));
}

void ConnectSession::connectionDown()
{
    m_connectionWork->wait();
    m_connected = false;
    printLine(QStringLiteral("disconnected"));
    if (m_connectionError != ConnectionWork::NoError)
        finish(ConnectionErrorBase + m_connectionError);
    else if (m_openvpnError != OpenVPN::NoError)
        finish(OpenVpnErrorBase + m_openvpnError);
    else if (m_stopRequested)
        finish(StoppedStatus);
    else
        finish(EndedQuietlyStatus);
}

// Never a prompt: the credentials in force (the stored ones, see main.cpp) or none, in which case
// the request fails as refused.
void ConnectSession::answerProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    const QString user = GlobalValues::value(GlobalValues::ProxyUsername).toString();
    const QString password = GlobalValues::value(GlobalValues::ProxyPassword).toString();
    const bool known = !user.isEmpty() || !password.isEmpty();
    printLine(QStringLiteral("proxy authentication: %1:%2%3")
                  .arg(printable(proxy.hostName()))
                  .arg(proxy.port())
                  .arg(known ? QString() : QStringLiteral(" (no stored credentials)")));
    if (!known)
        return;
    authenticator->setUser(user);
    authenticator->setPassword(password);
}

// Only once connected does the work hear a stop; before, connectionUp() sends it on arrival.
void ConnectSession::stopConnection()
{
    if (m_stopSent)
        return;
    m_stopSent = true;
    m_connectionWork->stop();
}

void ConnectSession::finish(int status)
{
    if (m_finished)
        return;
    m_finished = true;
    emit ended(status);
}
