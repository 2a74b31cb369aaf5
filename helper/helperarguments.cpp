#include "helper/helperarguments.h"

#include <QRegularExpression>
#include <QSet>

namespace {

const QString Adapter = QLatin1String(HelperProtocol::ConnectKey::Adapter);
const QString Host = QLatin1String(HelperProtocol::ConnectKey::Host);
const QString Port = QLatin1String(HelperProtocol::ConnectKey::Port);
const QString ProxyType = QLatin1String(HelperProtocol::ConnectKey::ProxyType);
const QString ProxyAddress = QLatin1String(HelperProtocol::ConnectKey::ProxyAddress);
const QString ProxyPort = QLatin1String(HelperProtocol::ConnectKey::ProxyPort);
const QString ProxyUser = QLatin1String(HelperProtocol::ConnectKey::ProxyUser);
const QString ProxyPassword = QLatin1String(HelperProtocol::ConnectKey::ProxyPassword);
const QString ProxyAuthMethod = QLatin1String(HelperProtocol::ConnectKey::ProxyAuthMethod);
const QString Username = QLatin1String(HelperProtocol::ConnectKey::Username);
const QString Password = QLatin1String(HelperProtocol::ConnectKey::Password);
const QString AutoReconnect = QLatin1String(HelperProtocol::ConnectKey::AutoReconnect);
const QString UseServerDns = QLatin1String(HelperProtocol::ConnectKey::UseServerDns);
const QString DnsServers = QLatin1String(HelperProtocol::ConnectKey::DnsServers);

const QString BlockIPv4 = QLatin1String(HelperProtocol::BlockKey::BlockIPv4);
const QString VpnAdapter = QLatin1String(HelperProtocol::BlockKey::VpnAdapter);
const QString Endpoints = QLatin1String(HelperProtocol::BlockKey::Endpoints);
const QString NameServers = QLatin1String(HelperProtocol::BlockKey::NameServers);
const QString Exceptions = QLatin1String(HelperProtocol::BlockKey::Exceptions);
const QString LocalNetwork = QLatin1String(HelperProtocol::BlockKey::LocalNetwork);
const QString SocksAddress = QLatin1String(HelperProtocol::BlockKey::SocksAddress);

using ExpectedKeys = QList<QPair<QString, int>>;

// Each key and the type its value must have.
const ExpectedKeys &connectKeys()
{
    static const ExpectedKeys keys {
        { Adapter, QMetaType::QString },
        { Host, QMetaType::QString },
        { Port, QMetaType::UShort },
        { ProxyType, QMetaType::QString },
        { ProxyAddress, QMetaType::QString },
        { ProxyPort, QMetaType::UShort },
        { ProxyUser, QMetaType::QString },
        { ProxyPassword, QMetaType::QString },
        { ProxyAuthMethod, QMetaType::QString },
        { Username, QMetaType::QString },
        { Password, QMetaType::QString },
        { AutoReconnect, QMetaType::Bool },
        { UseServerDns, QMetaType::Bool },
        { DnsServers, QMetaType::QStringList },
    };
    return keys;
}

const ExpectedKeys &blockKeys()
{
    static const ExpectedKeys keys {
        { BlockIPv4, QMetaType::Bool },
        { VpnAdapter, QMetaType::QString },
        { Endpoints, QMetaType::QStringList },
        { NameServers, QMetaType::QStringList },
        { Exceptions, QMetaType::QStringList },
        { LocalNetwork, QMetaType::Bool },
        { SocksAddress, QMetaType::QString },
    };
    return keys;
}

bool fail(QString *errorString, const QString &reason)
{
    *errorString = reason;
    return false;
}

// Every expected key with its type, and no other.
bool hasExpectedKeys(const QVariantMap &values, const ExpectedKeys &expected, QString *errorString)
{
    QSet<QString> known;
    for (const auto &key : expected) {
        known << key.first;
        if (!values.contains(key.first))
            return fail(errorString, QStringLiteral("%1 is missing").arg(key.first));
        if (values.value(key.first).userType() != key.second)
            return fail(errorString, QStringLiteral("%1 has the wrong type").arg(key.first));
    }
    for (auto value = values.cbegin(); value != values.cend(); ++value) {
        if (!known.contains(value.key()))
            return fail(errorString,
                QStringLiteral("unknown value %1").arg(value.key().left(HelperArguments::MaximumTextLength)));
    }
    return true;
}

// \z, not $: $ also matches before a final line break, which QHostAddress then trims away.
bool isIPv4Address(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral("\\A[0-9]{1,3}(\\.[0-9]{1,3}){3}\\z"));
    const QHostAddress address(text);
    return dotted.match(text).hasMatch() && address.protocol() == QAbstractSocket::IPv4Protocol;
}

// Digits, colons and dots only: no scope (an interface name), nothing a parser would read more into.
bool isIPv6Address(const QString &text)
{
    static const QRegularExpression hexadecimal(QStringLiteral("\\A[0-9A-Fa-f:.]{2,45}\\z"));
    const QHostAddress address(text);
    return hexadecimal.match(text).hasMatch() && address.protocol() == QAbstractSocket::IPv6Protocol;
}

bool readNumericAddress(const QString &text, QHostAddress *address)
{
    if (!isIPv4Address(text) && !isIPv6Address(text))
        return false;
    *address = QHostAddress(text);
    return true;
}

// "198.19.1.2:443" or "[2001:db8::1]:443", port 1 to 65535.
bool readEndpoint(const QString &text, KillSwitchRules::Endpoint *endpoint)
{
    static const QRegularExpression form(QStringLiteral("\\A(?:\\[([^\\]]*)\\]|([^:\\[\\]]*)):([0-9]{1,5})\\z"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const bool bracketed = match.capturedStart(1) >= 0;
    const QString address = bracketed ? match.captured(1) : match.captured(2);
    const uint port = match.captured(3).toUInt();
    if (!(bracketed ? isIPv6Address(address) : isIPv4Address(address)) || port == 0 || port > 65535)
        return false;
    endpoint->address = QHostAddress(address);
    endpoint->port = quint16(port);
    return true;
}

// "198.18.5.0/24" or "2001:db8::/32"; the address's bits beyond the prefix are cleared.
bool readSubnet(const QString &text, KillSwitchRules::Subnet *subnet)
{
    static const QRegularExpression form(QStringLiteral("\\A([^/]*)/([0-9]{1,3})\\z"));
    const QRegularExpressionMatch match = form.match(text);
    QHostAddress address;
    if (!match.hasMatch() || !readNumericAddress(match.captured(1), &address))
        return false;
    const int length = match.captured(2).toInt();
    if (length > (address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128))
        return false;
    *subnet = QHostAddress::parseSubnet(address.toString() + QLatin1Char('/') + QString::number(length));
    return true;
}

// Credentials go to OpenVPN's management channel, quoted: a line break or a NUL would end them early.
bool isCredential(const QString &text)
{
    if (text.size() > HelperArguments::MaximumTextLength)
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool isContiguousMask(const QHostAddress &mask)
{
    const quint32 bits = mask.toIPv4Address();
    return (~bits & (~bits + 1)) == 0;
}

} // namespace

bool HelperArguments::isAdapterName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}\\z"));
    return pattern.match(name).hasMatch();
}

bool HelperArguments::isHostName(const QString &host)
{
    if (isIPv4Address(host))
        return true;
    static const QRegularExpression label(QStringLiteral("\\A[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\z"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(QLatin1Char('.'));
    for (const QString &part : labels) {
        if (!label.match(part).hasMatch())
            return false;
    }
    // All digits would be taken for an address by some resolvers.
    return !QRegularExpression(QStringLiteral("\\A[0-9.]+\\z")).match(host).hasMatch();
}

bool HelperArguments::openvpnRequest(const QVariantMap &values, OpenVpnRequest *request, QString *errorString)
{
    if (!hasExpectedKeys(values, connectKeys(), errorString))
        return false;

    OpenVpnRequest read;
    read.adapter = values.value(Adapter).toString();
    if (!isAdapterName(read.adapter))
        return fail(errorString, QStringLiteral("adapter is not an interface name"));
    read.host = values.value(Host).toString();
    if (!isHostName(read.host))
        return fail(errorString, QStringLiteral("host is not a host name or an IPv4 address"));
    read.port = quint16(values.value(Port).toUInt());
    if (read.port == 0)
        return fail(errorString, QStringLiteral("port is 0"));

    const QString proxyType = values.value(ProxyType).toString();
    read.proxyAddress = values.value(ProxyAddress).toString();
    read.proxyPort = quint16(values.value(ProxyPort).toUInt());
    read.proxyUser = values.value(ProxyUser).toString();
    read.proxyPassword = values.value(ProxyPassword).toString();
    if (proxyType == QLatin1String("none")) {
        if (!read.proxyAddress.isEmpty() || read.proxyPort || !read.proxyUser.isEmpty() || !read.proxyPassword.isEmpty())
            return fail(errorString, QStringLiteral("proxy values without a proxy"));
        read.proxyType = QNetworkProxy::NoProxy;
    } else if (proxyType == QLatin1String("http") || proxyType == QLatin1String("socks5")) {
        read.proxyType = proxyType == QLatin1String("http") ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy;
        if (!isIPv4Address(read.proxyAddress) || read.proxyPort == 0)
            return fail(errorString, QStringLiteral("the proxy is not an IPv4 address and a port"));
    } else {
        return fail(errorString, QStringLiteral("proxy-type is not none, http or socks5"));
    }
    if (!isCredential(read.proxyUser) || !isCredential(read.proxyPassword))
        return fail(errorString, QStringLiteral("the proxy credentials are too long or hold control characters"));
    read.proxyAuthMethod = values.value(ProxyAuthMethod).toString();
    static const QStringList authMethods { QStringLiteral("Automatique"), QStringLiteral("Basic"), QStringLiteral("NTLM") };
    if (!authMethods.contains(read.proxyAuthMethod))
        return fail(errorString, QStringLiteral("proxy-auth-method is not Automatique, Basic or NTLM"));

    read.username = values.value(Username).toString();
    read.password = values.value(Password).toString();
    if (read.username.isEmpty() || !isCredential(read.username) || !isCredential(read.password))
        return fail(errorString, QStringLiteral("the credentials are empty, too long or hold control characters"));
    read.autoReconnect = values.value(AutoReconnect).toBool();
    read.useServerDns = values.value(UseServerDns).toBool();
    const QStringList servers = values.value(DnsServers).toStringList();
    if (servers.size() > MaximumDnsServers)
        return fail(errorString, QStringLiteral("more than %1 name servers").arg(MaximumDnsServers));
    for (const QString &server : servers) {
        if (!isIPv4Address(server))
            return fail(errorString, QStringLiteral("a name server is not an IPv4 address"));
        read.dnsServers << QHostAddress(server);
    }
    *request = read;
    return true;
}

bool HelperArguments::route(const HelperProtocol::WireRoute &wire, Route *route, QString *errorString)
{
    if (!isIPv4Address(wire.destination) || !isIPv4Address(wire.mask) || !isIPv4Address(wire.gateway))
        return fail(errorString, QStringLiteral("a route's destination, mask and gateway are IPv4 addresses"));
    Route read;
    read.destination = QHostAddress(wire.destination);
    read.mask = QHostAddress(wire.mask);
    read.gateway = QHostAddress(wire.gateway);
    if (!isContiguousMask(read.mask) || (read.destination.toIPv4Address() & ~read.mask.toIPv4Address()))
        return fail(errorString, QStringLiteral("a route's mask does not fit its destination"));
    if (wire.metric < -1 || wire.metric > 9999)
        return fail(errorString, QStringLiteral("a route's metric is out of range"));
    read.metric = wire.metric;
    const QNetworkInterface networkInterface
        = isAdapterName(wire.adapter) ? QNetworkInterface::interfaceFromName(wire.adapter) : QNetworkInterface();
    if (!networkInterface.isValid())
        return fail(errorString, QStringLiteral("a route's adapter does not exist"));
    read.adapter = NetworkAdapter(networkInterface);
    *route = read;
    return true;
}

bool HelperArguments::killSwitchRules(const QVariantMap &values, KillSwitchRules *rules, QString *errorString)
{
    if (!hasExpectedKeys(values, blockKeys(), errorString))
        return false;
    KillSwitchRules read;
    read.blockIPv4 = values.value(BlockIPv4).toBool();
    read.allowLocalNetwork = values.value(LocalNetwork).toBool();
    read.vpnAdapter = values.value(VpnAdapter).toString();
    if (!isAdapterName(read.vpnAdapter))
        return fail(errorString, QStringLiteral("vpn-adapter is not an interface name"));

    const QStringList endpoints = values.value(Endpoints).toStringList();
    if (endpoints.size() > MaximumEndpoints)
        return fail(errorString, QStringLiteral("more than %1 endpoints").arg(MaximumEndpoints));
    for (const QString &text : endpoints) {
        KillSwitchRules::Endpoint endpoint;
        if (!readEndpoint(text, &endpoint))
            return fail(errorString, QStringLiteral("an endpoint is not a numeric address and a port from 1 to 65535"));
        read.endpoints << endpoint;
    }
    const QStringList servers = values.value(NameServers).toStringList();
    if (servers.size() > MaximumDnsServers)
        return fail(errorString, QStringLiteral("more than %1 name servers").arg(MaximumDnsServers));
    for (const QString &text : servers) {
        QHostAddress server;
        if (!readNumericAddress(text, &server))
            return fail(errorString, QStringLiteral("a name server is not a numeric address"));
        read.nameServers << server;
    }
    const QStringList exceptions = values.value(Exceptions).toStringList();
    if (exceptions.size() > MaximumExceptions)
        return fail(errorString, QStringLiteral("more than %1 exceptions").arg(MaximumExceptions));
    for (const QString &text : exceptions) {
        KillSwitchRules::Subnet subnet;
        if (!readSubnet(text, &subnet))
            return fail(
                errorString, QStringLiteral("an exception is not a numeric address and a prefix length in range"));
        read.exceptions << subnet;
    }
    const QString socksAddress = values.value(SocksAddress).toString();
    if (!socksAddress.isEmpty() && !readNumericAddress(socksAddress, &read.socksAddress))
        return fail(errorString, QStringLiteral("socks-address is not a numeric address"));
    *rules = read;
    return true;
}
