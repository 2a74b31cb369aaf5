#include "upnp/ssdpserver.h"

// Windows hands the group's datagrams to a socket bound to the address of the interface that joined.
QHostAddress SSDPServer::listeningAddress(const QHostAddress &adapterAddress)
{
    return adapterAddress;
}
