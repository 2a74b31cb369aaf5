#include "connection/openvpnmanager.h"

namespace {
const QByteArray AuthPrompt = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password");
const QByteArray ProxyPrompt = QByteArrayLiteral(">PASSWORD:Need 'HTTP Proxy' username/password");

// A line break would end the line early and let the rest of the value, from the network or the
// user, pass for a management command of its own.
QByteArray firstLine(const QByteArray &value)
{
    for (int i = 0; i < value.size(); ++i) {
        if (value.at(i) == '\n' || value.at(i) == '\r')
            return value.left(i);
    }
    return value;
}

// OpenVPN splits a management line at spaces outside double quotes and reads a backslash as an
// escape: a password with a space or a quote would otherwise reach the server cut or changed.
QByteArray quoted(const QByteArray &value)
{
    QByteArray result("\"");
    for (const char c : value) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    result += '"';
    return result;
}
} // namespace

OpenVPNManager::OpenVPNManager(QObject *parent) : QTcpServer(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &OpenVPNManager::socketReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &OpenVPNManager::socketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &OpenVPNManager::socketDisconnected);
}

void OpenVPNManager::incomingConnection(qintptr socketDescriptor)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState) {
        // Refused: the channel belongs to the first comer of this listen.
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.abort();
        return;
    }
    m_socket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    close();
}

void OpenVPNManager::closeConnection()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(CloseTimeout);
    // A peer that never reads its end would keep the socket half-closed: drop it all the same.
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    close();
}

void OpenVPNManager::socketReadyRead()
{
    // Whatever else OpenVPN says is dropped; a prompt split across two reads goes unanswered.
    const QByteArray data = m_socket.readAll();
    if (data.contains(AuthPrompt)) {
        writeLine("username", "Auth", m_username);
        writeLine("password", "Auth", m_password);
    }
    if (data.contains(ProxyPrompt)) {
        writeLine("username", "HTTP Proxy", m_proxy.user());
        writeLine("password", "HTTP Proxy", m_proxy.password());
    }
}

void OpenVPNManager::socketError(QAbstractSocket::SocketError socketError)
{
    // OpenVPN's end is learnt from its process, not from this connection.
    Q_UNUSED(socketError)
}

void OpenVPNManager::socketDisconnected() { }

void OpenVPNManager::writeLine(const char *keyword, const char *realm, const QString &value)
{
    QByteArray line(keyword);
    line += " \"";
    line += realm;
    line += "\" ";
    line += quoted(firstLine(value.toLocal8Bit()));
    line += "\r\n";
    m_socket.write(line);
}
