#ifndef NIMBORA_NETCONFIG_ROUTESOCKET_H
#define NIMBORA_NETCONFIG_ROUTESOCKET_H

struct nl_sock;

// A libnl socket connected to rtnetlink for the object's lifetime; get() is null when it could
// not be opened. Linux only.
class RouteSocket
{
public:
    RouteSocket();
    ~RouteSocket();
    RouteSocket(const RouteSocket &) = delete;
    RouteSocket &operator=(const RouteSocket &) = delete;

    nl_sock *get() const { return m_socket; }

private:
    nl_sock *m_socket;
};

#endif
