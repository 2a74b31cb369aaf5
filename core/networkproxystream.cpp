#include "core/networkproxystream.h"

#include <QMetaType>

QDataStream &operator<<(QDataStream &stream, const QNetworkProxy &proxy)
{
    stream << qint32(proxy.type()) << proxy.hostName() << quint16(proxy.port());
    return stream;
}

QDataStream &operator>>(QDataStream &stream, QNetworkProxy &proxy)
{
    qint32 type = 0;
    QString hostName;
    quint16 port = 0;
    stream >> type >> hostName >> port;
    if (stream.status() != QDataStream::Ok)
        return stream;
    // A stored value from elsewhere must not become an enum value Qt does not know.
    if (type < QNetworkProxy::DefaultProxy || type > QNetworkProxy::FtpCachingProxy) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return stream;
    }
    proxy.setType(QNetworkProxy::ProxyType(type));
    proxy.setHostName(hostName);
    proxy.setPort(port);
    return stream;
}

void registerNetworkProxyMetaType()
{
    qRegisterMetaType<QNetworkProxy>("QNetworkProxy");
    qRegisterMetaTypeStreamOperators<QNetworkProxy>("QNetworkProxy");
}
