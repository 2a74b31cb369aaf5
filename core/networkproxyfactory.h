#ifndef NIMBORA_CORE_NETWORKPROXYFACTORY_H
#define NIMBORA_CORE_NETWORKPROXYFACTORY_H

#include <QNetworkProxyFactory>

// The application-wide proxy choice. Reads the settings and the proxy credentials at every
// query, so that a change in the options applies to the next connection without restart.
class NetworkProxyFactory : public QNetworkProxyFactory
{
public:
    ~NetworkProxyFactory() override;

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query = QNetworkProxyQuery()) override;
};

#endif
