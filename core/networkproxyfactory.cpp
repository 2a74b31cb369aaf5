#include "core/networkproxyfactory.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include <QAuthenticator>
#include <QSettings>

namespace {

// A stored port that is not a 16-bit number must not wrap round to some other port.
quint16 portValue(const QVariant &value)
{
    bool ok = false;
    const uint port = value.toUInt(&ok);
    return ok && port <= 0xffff ? quint16(port) : quint16(0);
}

QString credentialInForce(const char *key)
{
    return GlobalValues::value(QLatin1String(key)).toString();
}

// Qt uses the first entry that suits a connection and never falls back to the next: a proxy
// without a host would leave the user with no way out at all.
void appendUsable(QList<QNetworkProxy> *proxies, QNetworkProxy proxy)
{
    if (proxy.hostName().trimmed().isEmpty())
        return;
    // An HTTP proxy is sent the credentials only once it asks; a SOCKS proxy would be offered
    // nothing else, so it asks first (giveCredentialsInForce).
    if (proxy.type() != QNetworkProxy::Socks5Proxy) {
        proxy.setUser(credentialInForce(GlobalValues::ProxyUsername));
        proxy.setPassword(credentialInForce(GlobalValues::ProxyPassword));
    }
    proxies->append(proxy);
}

} // namespace

NetworkProxyFactory::~NetworkProxyFactory() = default;

QList<QNetworkProxy> NetworkProxyFactory::queryProxy(const QNetworkProxyQuery &query)
{
    QSettings settings;
    const QString mode = settings.value(SettingsKeys::Proxy, SettingsKeys::ProxyDefault).toString();

    QList<QNetworkProxy> proxies;
    if (mode == QLatin1String("manual")) {
        appendUsable(&proxies,
            QNetworkProxy(QNetworkProxy::HttpProxy, settings.value(SettingsKeys::HttpProxyHost).toString(),
                portValue(settings.value(SettingsKeys::HttpProxyPort))));
        appendUsable(&proxies,
            QNetworkProxy(QNetworkProxy::Socks5Proxy, settings.value(SettingsKeys::SocksProxyHost).toString(),
                portValue(settings.value(SettingsKeys::SocksProxyPort))));
    } else if (mode == QLatin1String("system")) {
        const QList<QNetworkProxy> systemProxies = QNetworkProxyFactory::systemProxyForQuery(query);
        for (const QNetworkProxy &proxy : systemProxies) {
            if (proxy.type() != QNetworkProxy::NoProxy)
                appendUsable(&proxies, proxy);
        }
    }
    proxies.append(QNetworkProxy(QNetworkProxy::NoProxy));
    return proxies;
}

bool NetworkProxyFactory::giveCredentialsInForce(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    const QString user = credentialInForce(GlobalValues::ProxyUsername);
    const QString password = credentialInForce(GlobalValues::ProxyPassword);
    if (proxy.type() != QNetworkProxy::Socks5Proxy || !proxy.user().isEmpty() || !proxy.password().isEmpty()
        || (user.isEmpty() && password.isEmpty()))
        return false;
    authenticator->setUser(user);
    authenticator->setPassword(password);
    return true;
}
