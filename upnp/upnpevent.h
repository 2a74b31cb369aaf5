#ifndef NIMBORA_UPNP_UPNPEVENT_H
#define NIMBORA_UPNP_UPNPEVENT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// One connection of the gateway to the event listener: every whole NOTIFY is answered, and those
// that announce a mapping count are passed on with their subscription's SID. It deletes itself
// when the connection ends, or ends it when the connection breaks a bound.
class UPnPEvent : public QObject
{
    Q_OBJECT

public:
    explicit UPnPEvent(QObject *parent = nullptr);

    bool setSocketDescriptor(qintptr socketDescriptor);
    // A connection still open this long after it was accepted is closed.
    void setTimeLimit(int msec);

signals:
    void log(const QString &line);
    void portMappingPropertiesChanged(QString sid, QString externalIpAddress, quint16 numberOfEntries);

private slots:
    void clientTcpSocketReadyRead();
    void clientTcpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketDisconnected();

private:
    void closeConnection(const QString &reason);

    QTcpSocket m_clientTcpSocket;
    QByteArray m_request;
    int m_requests = 0;
    QTimer m_timeLimit;
};

#endif
