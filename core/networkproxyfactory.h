#ifndef NIMBORA_CORE_NETWORKPROXYFACTORY_H
#define NIMBORA_CORE_NETWORKPROXYFACTORY_H

#include <QNetworkProxyFactory>

class QAuthenticator;

// The application-wide proxy choice. Reads the settings and the proxy credentials at every
// query, so that a change in the options applies to the next connection without restart.
class NetworkProxyFactory : public QNetworkProxyFactory
{
public:
    ~NetworkProxyFactory() override;

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query = QNetworkProxyQuery()) override;

    // A SOCKS proxy is listed without the credentials in force, since Qt would then offer it no
    // other method than user name and password, which a proxy without authentication refuses.
    // When such a proxy asks for them, they are given here; true when the authenticator was
    // filled. A proxy that already had credentials, or one of another type, is the user's to answer.
    static bool giveCredentialsInForce(const QNetworkProxy &proxy, QAuthenticator *authenticator);
};

#endif
