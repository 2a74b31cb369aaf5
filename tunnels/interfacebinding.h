#ifndef NIMBORA_TUNNELS_INTERFACEBINDING_H
#define NIMBORA_TUNNELS_INTERFACEBINDING_H

#include <QAbstractSocket>
#include <QHostAddress>

// Keeps a socket bound to an address on the adapter that holds the address. Windows does it
// once the adapter's weak-host sending is off; Linux picks the route by destination alone, so
// the socket itself is tied to the adapter. False when the system refuses.
bool bindToAddressInterface(QAbstractSocket *socket, const QHostAddress &address);

#endif
