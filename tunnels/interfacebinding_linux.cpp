#include "tunnels/interfacebinding.h"

#include <QNetworkInterface>

#include <sys/socket.h>

namespace {

QString interfaceHolding(const QHostAddress &address)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().isEqual(address))
                return networkInterface.name();
        }
    }
    return QString();
}

} // namespace

bool bindToAddressInterface(QAbstractSocket *socket, const QHostAddress &address)
{
    if (address.isNull() || address.isLoopback())
        return true;
    const QByteArray name = interfaceHolding(address).toLocal8Bit();
    if (name.isEmpty())
        return true; // the address is gone: the bind itself has already told
    return setsockopt(
               int(socket->socketDescriptor()), SOL_SOCKET, SO_BINDTODEVICE, name.constData(), socklen_t(name.size()))
        == 0;
}
