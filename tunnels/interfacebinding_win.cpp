#include "tunnels/interfacebinding.h"

bool bindToAddressInterface(QAbstractSocket *socket, const QHostAddress &address)
{
    Q_UNUSED(socket)
    Q_UNUSED(address)
    return true;
}
