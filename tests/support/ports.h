#ifndef NIMBORA_TESTS_SUPPORT_PORTS_H
#define NIMBORA_TESTS_SUPPORT_PORTS_H

#include <QTcpSocket>

// A loopback port where every connection is refused. The port stays bound (without address reuse)
// but never listens, so as long as this object lives no other socket, not even one of a test running
// in parallel, can take it and answer.
class RefusingPort
{
public:
    RefusingPort();
    quint16 port() const { return m_socket.localPort(); }

private:
    QTcpSocket m_socket;
};

#endif
