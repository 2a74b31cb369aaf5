#include "tests/support/ports.h"

#include <QHostAddress>

RefusingPort::RefusingPort()
{
    if (!m_socket.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress))
        qFatal("No loopback port to hold: %s", qPrintable(m_socket.errorString()));
}
