#ifndef NIMBORA_UPNP_UPNPEVENT_H
#define NIMBORA_UPNP_UPNPEVENT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// One connection of the gateway to the event listener: every whole NOTIFY is answered, and those
// that announce a mapping count are passed on. It deletes itself when the connection ends.
class UPnPEvent : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultIdleTimeout = 30000;

    explicit UPnPEvent(QObject *parent = nullptr);

    bool setSocketDescriptor(qintptr socketDescriptor);
    // A connection that sends nothing for this long is closed.
    void setIdleTimeout(int msec);

signals:
    void portMappingPropertiesChanged(QString externalIpAddress, quint16 numberOfEntries);

private slots:
    void clientTcpSocketReadyRead();
    void clientTcpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketDisconnected();

private:
    QTcpSocket m_clientTcpSocket;
    QByteArray m_request;
    QTimer m_idleTimer;
};

#endif
