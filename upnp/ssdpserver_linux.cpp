#include "upnp/ssdpserver.h"

// Linux never hands a datagram sent to the group to a socket bound to a unicast address, even one
// that joined it: listen on every address; the sender check keeps only this machine's searches.
QHostAddress SSDPServer::listeningAddress(const QHostAddress &adapterAddress)
{
    Q_UNUSED(adapterAddress)
    return QHostAddress(QHostAddress::AnyIPv4);
}
