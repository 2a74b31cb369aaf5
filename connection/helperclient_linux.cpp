#include "connection/helperclient.h"

#include "privileged/helperprotocol.h"

#include <QDBusMessage>
#include <QDBusMetaType>

namespace {

QString proxyTypeName(QNetworkProxy::ProxyType type)
{
    switch (type) {
    case QNetworkProxy::HttpProxy:
        return QStringLiteral("http");
    case QNetworkProxy::Socks5Proxy:
        return QStringLiteral("socks5");
    default:
        return QStringLiteral("none");
    }
}

QStringList addressTexts(const QList<QHostAddress> &addresses)
{
    QStringList texts;
    for (const QHostAddress &address : addresses)
        texts << address.toString();
    return texts;
}

QString endpointText(const KillSwitchRules::Endpoint &endpoint)
{
    const QString address = endpoint.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + endpoint.address.toString() + QLatin1Char(']')
        : endpoint.address.toString();
    return address + QLatin1Char(':') + QString::number(endpoint.port);
}

QVariant wireRoutes(const QList<Route> &routes)
{
    QList<HelperProtocol::WireRoute> wire;
    for (const Route &route : routes)
        wire << HelperProtocol::toWire(route);
    return QVariant::fromValue(wire);
}

} // namespace

HelperClient::HelperClient(QObject *parent) : MachineAccess(parent), m_bus(QDBusConnection::systemBus())
{
    HelperProtocol::registerTypes();
    // Only the helper's own signals: the service name ties them to whoever owns it.
    listen("Log", "s", SLOT(helperLog(QString)));
    listen("Progress", "i", SLOT(helperProgress(int)));
    listen("TunnelUp", "sas", SLOT(helperTunnelUp(QString, QStringList)));
    listen("TunnelDown", "", SLOT(helperTunnelDown()));
    listen("OpenVpnError", "i", SLOT(helperOpenVpnError(int)));
}

HelperClient::~HelperClient()
{
    if (m_session)
        call(QStringLiteral("Disconnect"));
}

void HelperClient::listen(const char *signal, const char *signature, const char *slot)
{
    m_bus.connect(QLatin1String(HelperProtocol::Service), QLatin1String(HelperProtocol::Path),
        QLatin1String(HelperProtocol::Interface), QLatin1String(signal), QLatin1String(signature), this, slot);
}

QVariantMap HelperClient::connectValues(const OpenVpnRequest &request)
{
    return {
        { QLatin1String(HelperProtocol::ConnectKey::Adapter), request.adapter },
        { QLatin1String(HelperProtocol::ConnectKey::Host), request.host },
        { QLatin1String(HelperProtocol::ConnectKey::Port), QVariant::fromValue(request.port) },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyType), proxyTypeName(request.proxyType) },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyAddress), request.proxyAddress },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyPort), QVariant::fromValue(request.proxyPort) },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyUser), request.proxyUser },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyPassword), request.proxyPassword },
        { QLatin1String(HelperProtocol::ConnectKey::ProxyAuthMethod), request.proxyAuthMethod },
        { QLatin1String(HelperProtocol::ConnectKey::Username), request.username },
        { QLatin1String(HelperProtocol::ConnectKey::Password), request.password },
        { QLatin1String(HelperProtocol::ConnectKey::AutoReconnect), request.autoReconnect },
        { QLatin1String(HelperProtocol::ConnectKey::UseServerDns), request.useServerDns },
        { QLatin1String(HelperProtocol::ConnectKey::DnsServers), addressTexts(request.dnsServers) },
    };
}

QVariantMap HelperClient::blockValues(const KillSwitchRules &rules)
{
    QStringList endpoints;
    for (const KillSwitchRules::Endpoint &endpoint : rules.endpoints)
        endpoints << endpointText(endpoint);
    QStringList exceptions;
    for (const KillSwitchRules::Subnet &subnet : rules.exceptions)
        exceptions << subnet.first.toString() + QLatin1Char('/') + QString::number(subnet.second);
    return {
        { QLatin1String(HelperProtocol::BlockKey::BlockIPv4), rules.blockIPv4 },
        { QLatin1String(HelperProtocol::BlockKey::VpnAdapter), rules.vpnAdapter },
        { QLatin1String(HelperProtocol::BlockKey::Endpoints), endpoints },
        { QLatin1String(HelperProtocol::BlockKey::NameServers), addressTexts(rules.nameServers) },
        { QLatin1String(HelperProtocol::BlockKey::Exceptions), exceptions },
        { QLatin1String(HelperProtocol::BlockKey::LocalNetwork), rules.allowLocalNetwork },
        { QLatin1String(HelperProtocol::BlockKey::SocksAddress),
            rules.socksAddress.isNull() ? QString() : rules.socksAddress.toString() },
    };
}

bool HelperClient::call(const QString &method, const QVariantList &arguments, QDBusMessage *reply)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(HelperProtocol::Service),
        QLatin1String(HelperProtocol::Path), QLatin1String(HelperProtocol::Interface), method);
    message.setArguments(arguments);
    message.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage answer = m_bus.call(message, QDBus::Block, HelperProtocol::CallTimeout);
    if (reply)
        *reply = answer;
    if (answer.type() == QDBusMessage::ReplyMessage)
        return true;
    emit log(QStringLiteral("The Nimbora helper refused %1: %2 (%3)")
                 .arg(method, answer.errorMessage(), answer.errorName()));
    return false;
}

void HelperClient::startOpenVpn(const OpenVpnRequest &request)
{
    m_session = call(QStringLiteral("Connect"), { connectValues(request) });
    m_running = m_session;
    // Nothing runs: the wait for the tunnel ends at once.
    if (!m_running)
        emit openvpnDisconnected();
}

void HelperClient::stopOpenVpn()
{
    if (m_session)
        call(QStringLiteral("Disconnect"));
    m_session = false;
}

void HelperClient::changeRoutes(const QList<Route> &remove, const QList<Route> &add)
{
    call(QStringLiteral("ChangeRoutes"), { wireRoutes(remove), wireRoutes(add) });
}

void HelperClient::usePushedNameServers()
{
    call(QStringLiteral("UseNameServers"));
}

void HelperClient::disableWeakHost(const NetworkAdapter &adapter)
{
    call(QStringLiteral("DisableWeakHost"), { adapter.networkInterface().name() });
}

void HelperClient::undo()
{
    if (m_session)
        call(QStringLiteral("Undo"));
}

void HelperClient::helperLog(const QString &line)
{
    emit log(line);
}

void HelperClient::helperProgress(int progress)
{
    emit openvpnProgressChanged(progress);
}

void HelperClient::helperTunnelUp(const QString &gateway, const QStringList &dnsServers)
{
    QList<QHostAddress> servers;
    for (const QString &server : dnsServers)
        servers << QHostAddress(server);
    emit openvpnConnected(QHostAddress(gateway), servers);
}

void HelperClient::helperTunnelDown()
{
    m_running = false;
    emit openvpnDisconnected();
}

void HelperClient::helperOpenVpnError(int error)
{
    emit openvpnError(error);
}

bool HelperClient::block(const KillSwitchRules &rules)
{
    return call(QStringLiteral("Block"), { blockValues(rules) });
}

void HelperClient::unblock()
{
    call(QStringLiteral("Unblock"));
}

bool HelperClient::isBlocked()
{
    QDBusMessage reply;
    return call(QStringLiteral("IsBlocked"), {}, &reply) && reply.arguments().value(0).toBool();
}
