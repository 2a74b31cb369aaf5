#include "core/networkproxyfactory.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include <QSettings>

namespace {

// A stored port that is not a 16-bit number must not wrap round to some other port.
quint16 portValue(const QVariant &value)
{
    bool ok = false;
    const uint port = value.toUInt(&ok);
    return ok && port <= 0xffff ? quint16(port) : quint16(0);
}

} // namespace

NetworkProxyFactory::~NetworkProxyFactory() = default;

QList<QNetworkProxy> NetworkProxyFactory::queryProxy(const QNetworkProxyQuery &query)
{
    const QString user = GlobalValues::value(GlobalValues::ProxyUsername).toString();
    const QString password = GlobalValues::value(GlobalValues::ProxyPassword).toString();

    QSettings settings;
    const QString mode = settings.value(SettingsKeys::Proxy, SettingsKeys::ProxyDefault).toString();

    QList<QNetworkProxy> proxies;
    if (mode == QLatin1String("manual")) {
        // Listed even without a host: Qt then falls through to the direct connection.
        proxies.append(QNetworkProxy(QNetworkProxy::HttpProxy, settings.value(SettingsKeys::HttpProxyHost).toString(),
            portValue(settings.value(SettingsKeys::HttpProxyPort)), user, password));
        proxies.append(
            QNetworkProxy(QNetworkProxy::Socks5Proxy, settings.value(SettingsKeys::SocksProxyHost).toString(),
                portValue(settings.value(SettingsKeys::SocksProxyPort)), user, password));
    } else if (mode == QLatin1String("system")) {
        const QList<QNetworkProxy> systemProxies = QNetworkProxyFactory::systemProxyForQuery(query);
        for (QNetworkProxy proxy : systemProxies) {
            if (proxy.type() == QNetworkProxy::NoProxy)
                continue;
            proxy.setUser(user);
            proxy.setPassword(password);
            proxies.append(proxy);
        }
    }
    proxies.append(QNetworkProxy(QNetworkProxy::NoProxy));
    return proxies;
}
