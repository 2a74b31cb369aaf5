#include "netconfig/routesocket.h"

#include <netlink/netlink.h>
#include <netlink/socket.h>

RouteSocket::RouteSocket() : m_socket(nl_socket_alloc())
{
    if (m_socket && nl_connect(m_socket, NETLINK_ROUTE) < 0) {
        nl_socket_free(m_socket);
        m_socket = nullptr;
    }
}

RouteSocket::~RouteSocket()
{
    if (m_socket)
        nl_socket_free(m_socket);
}
