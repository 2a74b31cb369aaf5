#ifndef NIMBORA_TUNNELS_SOCKSSERVER_H
#define NIMBORA_TUNNELS_SOCKSSERVER_H

#include <QHostAddress>
#include <QTcpServer>

// Local SOCKS 4, 4a and 5 server. Every client gets a SocksTunnel thread of its own; every outgoing
// socket is bound to bindAddress, which decides the adapter the traffic leaves by. On Linux only the
// running user's own programs are served.
class SocksServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit SocksServer(QObject *parent = nullptr);

    void setAddress(const QHostAddress &address);
    // Stops listening and ends every tunnel.
    void close();

signals:
    void log(const QString &text);
    void closed();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QHostAddress m_bindAddress;
};

#endif
