#include "core/serversrefreshwork.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "base/useragent.h"
#include "core/mainservercall.h"
#include "core/networkproxyfactory.h"
#include "core/serverlist.h"
#include "http/httprequest.h"

#include <QDomElement>
#include <QEventLoop>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QSettings>

namespace {

// The probe's answer is exactly this; keeping more of a body would tell nothing.
const QByteArray Pong("pong");
constexpr int ServerBandwidthLimit = 90;
constexpr int TunnelSlotsLimit = 100;

} // namespace

ServersRefreshWork::ServersRefreshWork(QObject *parent) : BackgroundWorker(parent)
{
    qRegisterMetaType<ServersRefreshWork::Error>("ServersRefreshWork::Error");
    m_socket.moveToThread(this);
    m_timer.moveToThread(this);
    m_timer.setSingleShot(true);
    m_userAgent = UserAgent::configured();

    connect(&m_socket, &QAbstractSocket::proxyAuthenticationRequired, this,
        &ServersRefreshWork::socketProxyAuthenticationRequired, Qt::DirectConnection);
    connect(&m_socket, &QAbstractSocket::connected, this, &ServersRefreshWork::socketConnected);
    connect(&m_socket, &QIODevice::readyRead, this, &ServersRefreshWork::socketReadyRead);
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &ServersRefreshWork::socketError);
    connect(&m_socket, &QAbstractSocket::disconnected, this, &ServersRefreshWork::socketDisconnected);
    connect(&m_timer, &QTimer::timeout, this, &ServersRefreshWork::socketTimeout);
}

ServersRefreshWork::~ServersRefreshWork() = default;

void ServersRefreshWork::setActions(int actions)
{
    m_actions = actions;
}

QList<QVariant> ServersRefreshWork::servers() const
{
    return m_servers;
}

bool ServersRefreshWork::isPremium() const
{
    return m_premium;
}

QString ServersRefreshWork::endpointKey(
    const QVariantHash &server, const QVariantHash &country, const QVariantHash &tunnel)
{
    return server.value(QStringLiteral("name")).toString() + QLatin1Char('/')
        + country.value(QStringLiteral("code")).toString() + QLatin1Char('/')
        + tunnel.value(QStringLiteral("name")).toString();
}

void ServersRefreshWork::run()
{
    if ((m_actions & FetchList) && !fetchList())
        return;

    const bool byAddress = QSettings().value(SettingsKeys::IpAddress, SettingsKeys::IpAddressDefault).toBool();
    const QString hostKey = byAddress ? QStringLiteral("address") : QStringLiteral("hostname");

    for (const QVariant &serverValue : qAsConst(m_servers)) {
        const QVariantHash server = serverValue.toHash();
        const bool serverUsable = server.value(QStringLiteral("bandwidth")).toInt() < ServerBandwidthLimit
            && server.value(QStringLiteral("state")).toString().toInt() == 1;
        const QVariantList countries = server.value(QStringLiteral("countries")).toList();
        for (const QVariant &countryValue : countries) {
            const QVariantHash country = countryValue.toHash();
            const QVariantList tunnels = country.value(QStringLiteral("tunnels")).toList();
            for (const QVariant &tunnelValue : tunnels) {
                const QVariantHash tunnel = tunnelValue.toHash();
                m_host = tunnel.value(hostKey).toString();
                const bool usable = serverUsable && tunnel.value(QStringLiteral("slots")).toInt() < TunnelSlotsLimit
                    && tunnel.value(QStringLiteral("state")).toInt() == 1 && !m_host.isEmpty();
                if (!usable)
                    continue;

                const QString key = endpointKey(server, country, tunnel);
                if (!(m_actions & MeasureLatencies)) {
                    emit latencyChanged(key, m_latencies.value(key, 0));
                    continue;
                }
                measure();
                if (m_retryWithCredentials) {
                    m_retryWithCredentials = false;
                    measure();
                }
                m_latencies.insert(key, m_latency);
                emit latencyChanged(key, m_latency);
            }
        }
    }
}

bool ServersRefreshWork::fetchList()
{
    const MainServerReply reply
        = MainServerCall::call(this, &ServersRefreshWork::proxyAuthenticationRequired, MainServerAccess::Servers,
            { { QStringLiteral("session"), GlobalValues::value(GlobalValues::Session).toString() } });
    switch (reply.status) {
    case MainServerReply::NoReply:
        emit error(ServerError);
        return false;
    case MainServerReply::Denied:
        emit error(DeniedError);
        return false;
    case MainServerReply::OtherCode:
        emit error(UnknownError);
        return false;
    case MainServerReply::Ok:
        break;
    }
    const QDomElement &root = reply.root;

    m_premium = ServerList::isPremium(root);
    m_proxyAuthorization.clear();
    m_retryWithCredentials = false;
    m_userAgent = UserAgent::configured();
    m_servers = ServerList::read(root);
    emit updated();
    return true;
}

void ServersRefreshWork::measure()
{
    m_latency = NoAnswer;
    m_response = HttpResponse();
    m_body.clear();
    // Whatever the previous endpoint left must not end this measurement.
    m_socket.abort();

    const QList<QNetworkProxy> proxies
        = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(m_host, ProbePort, QString()));
    m_proxy = proxies.isEmpty() ? QNetworkProxy() : proxies.first();

    QEventLoop loop;
    m_loop = &loop;
    m_timer.start(ProbeTimeLimit);
    if (m_proxy.type() == QNetworkProxy::HttpProxy) {
        // The probe speaks to the HTTP proxy itself, with an absolute request line.
        m_socket.setProxy(QNetworkProxy::NoProxy);
        m_socket.connectToHost(m_proxy.hostName(), m_proxy.port());
    } else {
        // Back to the socket's initial setting, which an HTTP proxy for an earlier endpoint
        // changed: the socket layer applies the application proxy, SOCKS included.
        m_socket.setProxy(QNetworkProxy::DefaultProxy);
        m_socket.connectToHost(m_host, ProbePort);
    }
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    m_timer.stop();
    m_loop = nullptr;
    m_socket.abort();
}

void ServersRefreshWork::finishMeasurement()
{
    if (m_loop)
        m_loop->quit();
}

void ServersRefreshWork::socketProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    if (!NetworkProxyFactory::giveCredentialsInForce(proxy, authenticator))
        emit proxyAuthenticationRequired(proxy, authenticator);
}

void ServersRefreshWork::socketConnected()
{
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    QByteArray request(
        "GET " + HttpRequest::requestTarget(m_host, QStringLiteral("ping"), m_proxy.type()) + " HTTP/1.1\r\n");
    request += "Host: " + m_host.toUtf8() + "\r\n";
    request += "User-Agent: " + m_userAgent.toUtf8() + "\r\n";
    if (!m_proxyAuthorization.isEmpty())
        request += "Proxy-Authorization: Basic " + m_proxyAuthorization + "\r\n";
    request += "\r\n";

    m_socket.write(request);
    m_elapsed.start();
}

void ServersRefreshWork::socketReadyRead()
{
    if (!m_loop)
        return;
    QByteArray data = m_socket.readAll();
    HttpResponse::parseResponse(data, &m_response);
    if (m_response.headers.isEmpty())
        return;
    // The body may come in several reads; only its first bytes matter.
    m_body += m_response.content.left(Pong.size() + 1 - m_body.size());
    if (m_response.remainingContentLength() != 0)
        return;

    m_timer.stop();
    if (m_response.statusCode == 200) {
        m_latency = m_body == Pong ? int(m_elapsed.elapsed()) : int(WrongAnswer);
    } else if (m_response.statusCode == 407) {
        const QByteArray credentials = HttpRequest::basicProxyAuthorization(
            m_response.headers.value(QStringLiteral("proxy-authenticate")), m_proxy);
        if (!credentials.isEmpty() && m_proxyAuthorization.isEmpty()) {
            m_proxyAuthorization = credentials;
            m_retryWithCredentials = true;
        } else {
            m_latency = WrongAnswer;
        }
    } else {
        m_latency = WrongAnswer;
    }
    m_socket.disconnectFromHost();
    finishMeasurement();
}

void ServersRefreshWork::socketError(QAbstractSocket::SocketError socketError)
{
    if (socketError == QAbstractSocket::RemoteHostClosedError)
        return;
    m_timer.stop();
    finishMeasurement();
}

void ServersRefreshWork::socketDisconnected()
{
    finishMeasurement();
}

void ServersRefreshWork::socketTimeout()
{
    m_latency = TimedOut;
    // Aborted rather than closed gracefully: a peer that does not read could hold a graceful
    // close open past the limit.
    m_socket.abort();
    finishMeasurement();
}
