#ifndef NIMBORA_CORE_NETWORKPROXYSTREAM_H
#define NIMBORA_CORE_NETWORKPROXYSTREAM_H

#include <QDataStream>
#include <QNetworkProxy>

// How a proxy is stored in the settings and carried by queued signals: type, host name and
// port. Credentials never leave the process this way.
QDataStream &operator<<(QDataStream &stream, const QNetworkProxy &proxy);
QDataStream &operator>>(QDataStream &stream, QNetworkProxy &proxy);

// Registers QNetworkProxy under its own name with the operators above.
void registerNetworkProxyMetaType();

#endif
